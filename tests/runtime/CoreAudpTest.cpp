#include "runtime/CoreAudp.h"

#include "runtime/CoreAnsx.h"
#include "runtime/CoreLog_.h"
#include "runtime/CorePool.h"
#include "runtime/CoreTlst.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "tests/support/LogCapture.h"

namespace {

#ifndef VORLAN_AUDIO_GUARD
#define NEEDS_GUARD() GTEST_SKIP() << "built without the audio-path guard"
#else
#define NEEDS_GUARD() (void)0
#endif

// Each forbidden call made inside a scope, with the name its abort reports.
// Texts and lists are prepared outside the scope, so only the call itself is
// on the audio path.
struct Forbidden {
    char const* name;
    std::function<void()> call;
};

std::vector<Forbidden> forbiddenCalls() {
    return {
        {"CorePool::mallc",
         [] {
             CorePool pool;
             CoreAnsx opname("test"); // moved in: the by-value argument takes its block
             CoreAudp audio;
             pool.mallc(0, 4, "AUDP", std::move(opname));
         }},
        {"CoreLog_::loger",
         [] {
             CoreAnsx text("x");
             CoreAudp audio;
             CoreLog_::loger(text, 5); // aborts whatever the level
         }},
        {"CoreLog_::logfl",
         [] {
             CoreAnsx text("x");
             CoreAudp audio;
             CoreLog_::logfl(text, 5);
         }},
        {"CoreLog_::logtg",
         [] {
             CoreAnsx text("x");
             CoreAudp audio;
             CoreLog_::logtg(text, 5);
         }},
        {"CoreLog_::login",
         [] {
             CoreAnsx text("x");
             CoreAudp audio;
             CoreLog_::login(text, 1);
         }},
        {"CoreLog_::logas",
         [] {
             CoreAnsx text("x");
             CoreAudp audio;
             CoreLog_::logas(text);
         }},
        {"CoreAnsx growth",
         [] {
             CoreAnsx text("x");
             text.start(std::string(text.capacity() - 1, 'x').c_str()); // block now full
             CoreAudp audio;
             text.start("8", text.Length() + 1); // appends
         }},
        {"CoreTlst growth",
         [] {
             CoreTlst list;
             for (int i = 0; i < 4; ++i) list.Add(nullptr);
             CoreAudp audio;
             list.Add(nullptr);
         }},
    };
}

} // namespace

TEST(CoreAudpDeathTest, EveryForbiddenCallAbortsNamingItself) {
    NEEDS_GUARD();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (Forbidden const& f : forbiddenCalls()) {
        EXPECT_DEATH(f.call(), std::string("audio path: ") + f.name) << f.name;
    }
}

TEST(CoreAudpDeathTest, NestedScopesGuardUntilTheOutermostCloses) {
    NEEDS_GUARD();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_FALSE(CoreAudp::inside());
    {
        CoreAudp outer;
        {
            CoreAudp inner;
            EXPECT_TRUE(CoreAudp::inside());
        }
        EXPECT_TRUE(CoreAudp::inside());
        EXPECT_DEATH(CoreTlst().Add(nullptr), "audio path: CoreTlst growth");
    }
    EXPECT_FALSE(CoreAudp::inside());
    CoreTlst().Add(nullptr);
}

TEST(CoreAudp, WritesWithinTheirBlocksAndQuietDebugLinesAreAllowed) {
    CoreAnsx text("abc");
    CoreTlst list;
    list.Add(nullptr);
    list.Add(nullptr);
    list.Delete(1);
    CoreAnsx const line("debug");
    short const level = CoreLog_::getdb();
    CoreLog_::setdb(0, false);
    {
        CoreAudp audio;
        text.start("xyz");           // same length: no growth
        text.start("de", 2);         // shorter: no growth
        list.Add(nullptr);           // within the capacity reached before
        CoreLog_::debug(line, 0, 1); // not written at level 0
        CoreLog_::debgi(line, 1, 0, 2);
    }
    CoreLog_::setdb(level, false);
    EXPECT_STREQ(text.c_str(), "xde");
    EXPECT_EQ(list.count, 2);
}

TEST(CoreAudp, IndexCountsInsideAScopeAndLogsOutside) {
    NEEDS_GUARD();
    struct Case {
        long i, n;
        bool good;
    } const cases[] = {{0, 1, true},  {3, 4, true},         {-1, 4, false},         {4, 4, false},
                       {0, 0, false}, {1L << 40, 8, false}, {-(1L << 40), 8, false}};
    LogCapture log;
    for (Case const& c : cases) {
        long const before = CoreAudp::misses();
        bool inside;
        {
            CoreAudp audio;
            inside = CoreAudp::index(c.i, c.n, "Probe");
        }
        EXPECT_EQ(inside, c.good) << c.i << " of " << c.n;
        EXPECT_EQ(CoreAudp::misses() - before, c.good ? 0 : 1) << c.i << " of " << c.n;
        EXPECT_EQ(CoreAudp::index(c.i, c.n, "Probe"), c.good);
        EXPECT_EQ(CoreAudp::misses() - before, c.good ? 0 : 1) << "outside a scope: logged only";
    }
    std::string const text = log.text();
    EXPECT_NE(text.find("***ERROR***> Probe index out of range: -1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Probe index out of range: 1099511627776\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("index out of range: 3\n"), std::string::npos) << text;
}
