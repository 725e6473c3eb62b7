// ctest-labels: threads
// What the plug-in plays for the fixed workloads (ten harmonics of 2 s
// kernels, static and crossfaded by an LFO, and a 300-tap kernel) over 10 s
// of seeded noise with a processing block of 2048: per second and channel
// its peak and RMS, and a few samples, against what an earlier build of the
// engine played, within 1e-9 of the loudest reference second's peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "tests/support/TempDir.h"
#include "tools/CoreWkld.h"

namespace {

struct REFERENCE {
    CoreWkld::PROGRAM program;
    double seconds[10][4]; // peak left, peak right, RMS left, RMS right
    double samples[4][2];  // at kFrames, left and right
};

constexpr long kFrames[4] = {1000, 100000, 250001, 420000};

// clang-format off
REFERENCE const kReference[] = {
    {CoreWkld::iCstatic,
     {{5.0361554411035918, 5.2281721554027047, 1.1904592188411547, 1.1854299558671502},
      {5.1584019768818532, 5.2454802693674853, 1.2506835158107783, 1.2475777173976308},
      {5.1747556799818293, 5.5968197857584361, 1.2496348950471257, 1.2400073410526953},
      {5.7222742983225796, 5.3152200149863464, 1.2457342188073568, 1.245297637356312},
      {6.1873329217636606, 5.8871142629655413, 1.2582986297176559, 1.2397069919109003},
      {5.4162114401401862, 5.4314243350532596, 1.2382245818822455, 1.2428854081499683},
      {6.1212999131051067, 5.3583492202144694, 1.2508751170804404, 1.2486478514398593},
      {5.4571585268860332, 5.7255758703310047, 1.2495921618443484, 1.247918875327457},
      {5.4979718072673132, 6.0250213832448063, 1.2438064763694219, 1.2481828865571336},
      {5.4705451451850635, 5.3170067923773017, 1.2418120855214039, 1.2435896441940539}},
     {{0.21608568772206549, 0.44855967432016908},
      {0.78621642008092496, -0.53511060181956882},
      {1.0775339682738294, 2.458849370983951},
      {0.47232971740060337, 0.53286346895592307}}},
    {CoreWkld::iCdynamic,
     {{3.5103642979171084, 3.335206891625381, 0.78415441551740261, 0.79628524634904885},
      {5.0661785264957002, 4.8915876187045626, 1.0579798346736859, 1.0573138614283863},
      {4.2995096740869734, 3.8060522522617117, 0.82227476348394779, 0.83361119289088426},
      {4.8000916048644084, 4.8210802588836161, 1.0547166076694552, 1.0530704347119109},
      {3.741819846548446, 3.2748231589165759, 0.82241983258857543, 0.82677715099329263},
      {4.9234224172424845, 5.0335049302743418, 1.0470473362301951, 1.05574650720285},
      {3.5744516905485213, 3.6725014780018532, 0.822733270986718, 0.83707692665317668},
      {5.2065099454471673, 4.8126249082788135, 1.0574934772413656, 1.0562807514563664},
      {3.7329438253901461, 3.3787804686888028, 0.81889478462045384, 0.83466311762688539},
      {5.2637223710869696, 4.5327261871592626, 1.0482170963357458, 1.0536148266053993}},
     {{-0.068074181564529518, 0.23018615587655328},
      {0.28584173277278685, -1.1028961101708803},
      {0.98947988561364242, 2.3835325489407349},
      {0.57462783356835079, 0.63698490906240823}}},
    {CoreWkld::iCshort,
     {{0.38731110404803049, 0.50446555183681352, 0.12801759154114781, 0.13777547194455073},
      {0.38126810408929562, 0.45258834971386169, 0.12747064210699197, 0.13647375036598952},
      {0.38211252793891798, 0.44641800669211035, 0.12837971539083001, 0.13741905493764955},
      {0.37647540645295918, 0.43476344307851511, 0.12741938187255375, 0.1371700358757047},
      {0.39551330900818371, 0.44332077470561082, 0.12797493631153123, 0.13692281435935263},
      {0.37178372431854667, 0.45882216672950366, 0.12683649591570872, 0.1372884823451363},
      {0.36023423920532921, 0.45511948727394652, 0.12736609132665078, 0.13801577640007862},
      {0.37736360223797072, 0.46151159961155525, 0.12858572705245558, 0.13690890126043684},
      {0.37385024990845828, 0.45007531997048905, 0.12751884503752231, 0.13715720716992699},
      {0.38245425339063949, 0.46698367066745616, 0.12735701861761256, 0.13740045918188085}},
     {{-0.033425846818763663, 0.17070848834212679},
      {0.082962146802146558, -0.069086514328277532},
      {-0.1022692758768145, 0.10353599320602709},
      {-0.085706927988928441, 0.25886408981692982}}},
};
// clang-format on

TEST(PluginWorkloadTest, OutputMatchesTheEarlierEngine) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "arithmetic only; ten seconds of three programs are too slow here";
#endif
    CoreHost::CHANNELS const in = CoreWkld::noise(10.0);
    for (REFERENCE const& ref : kReference) {
        SCOPED_TRACE(ref.program);
        TempDir folder("vorlanworkload");
        ASSERT_TRUE(CoreWkld::wrins(folder.folder(), VORLAN_PLUGIN_SO, ref.program, 2048));
        CoreHost host(folder.file("vorlan.so"), CoreWkld::iCrate, 512);
        ASSERT_TRUE(CoreWkld::start(host));
        CoreHost::CHANNELS const out = CoreWkld::rendr(host, in, true);
        std::vector<CoreWkld::SECOND> const got = CoreWkld::persc(out);
        ASSERT_EQ(got.size(), 10u);
        double peak = 0.0;
        for (auto const& s : ref.seconds) peak = std::max({peak, s[0], s[1]});
        double const tolerance = 1e-9 * peak;
        std::string table;
        bool same = peak > 0.0;
        for (int k = 0; k < 10; ++k) {
            double const row[4] = {got[k].peak[0], got[k].peak[1], got[k].rms[0], got[k].rms[1]};
            for (int j = 0; j < 4; ++j)
                same = same && std::fabs(row[j] - ref.seconds[k][j]) <= tolerance;
            char line[160];
            std::snprintf(line, sizeof line, "{%.17g, %.17g, %.17g, %.17g},\n", row[0], row[1],
                          row[2], row[3]);
            table += line;
        }
        for (int i = 0; i < 4; ++i) {
            double const pair[2] = {out[0][kFrames[i]], out[1][kFrames[i]]};
            for (int c = 0; c < 2; ++c)
                same = same && std::fabs(pair[c] - ref.samples[i][c]) <= tolerance;
            char line[80];
            std::snprintf(line, sizeof line, "{%.17g, %.17g},\n", pair[0], pair[1]);
            table += line;
        }
        EXPECT_TRUE(same) << "played:\n" << table;
    }
}

} // namespace
