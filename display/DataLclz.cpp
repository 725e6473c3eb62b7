#include "display/DataLclz.h"

// Built in this order when the library loads; the about lines are our own words.

// Units (appended after values; each begins with a blank)
const CoreAnsx DataLclz::sCunitms{" ms"};
const CoreAnsx DataLclz::sCunitsc{" s"};
const CoreAnsx DataLclz::sCunithz{" Hz"};
const CoreAnsx DataLclz::sCunitmb{" Mb"};
const CoreAnsx DataLclz::sCunittimes{" times"};
const CoreAnsx DataLclz::sCunitdb{" dB"};
const CoreAnsx DataLclz::sCunitdeg{" dg"};
const CoreAnsx DataLclz::sCunitpc{" %"};
const CoreAnsx DataLclz::sCunitkb{" Kb"};

// General status prints and the off/on pair
const CoreAnsx DataLclz::sCgeneoffon[iCgeneoffon] = {"OFF", "ON "};
const CoreAnsx DataLclz::sCgenclearedbankprint{"BANK CLEARED"};
const CoreAnsx DataLclz::sCgenloadedprint{"LOADED:"};
const CoreAnsx DataLclz::sCgenloadingprint{"LOADING:"};
const CoreAnsx DataLclz::sCgensavingprint{"SAVING..."};
const CoreAnsx DataLclz::sCgendeletedprint{"DELETED:"};
const CoreAnsx DataLclz::sCgenmovedprint{"MOVED:"};
const CoreAnsx DataLclz::sCgenbanksavedprint{"BANK SAVED:"};

// Kernel loading prints
const CoreAnsx DataLclz::sCkerhybridprint{"HYBRID LOADING..."};
const CoreAnsx DataLclz::sCkermonoprint{"MONO LOADING..."};

// Gain labels
const CoreAnsx DataLclz::sCviewgaininlabel{"GAIN IN"};
const CoreAnsx DataLclz::sCviewgainoutlabel{"GAIN OUT"};
const CoreAnsx DataLclz::sCviewgainslabel{"GAINS"};

// Kernel page
const CoreAnsx DataLclz::sCkerncleanlabel{"CLEAN"};
const CoreAnsx DataLclz::sCkernevenlabel{"EVEN"};
const CoreAnsx DataLclz::sCkernoddslabel{"ODD"};
const CoreAnsx DataLclz::sCkerndirlabel{"TIMED:"};
const CoreAnsx DataLclz::sCkernfftlabel{"FREQD:"};
const CoreAnsx DataLclz::sCkernfadeoutlabel{"FADE:"};
const CoreAnsx DataLclz::sCkernhdim[iCkernhdim] = {
    "0 Max   ", "1 Clean ", "2 (1st) ", "3 (2nd) ", "4 (3rd) ", "5 (4th) ", "6 (5th) ",
    "7 (6th) ", "8 (7th) ", "9 (8th) ", "10 (9th)", "11(10th)", "12(11th)", "13(12th)",
    "14(13rd)", "15(14th)", "16(15th)", "17(16th)", "18(17th)", "19(18th)", "20(19th)"};
const CoreAnsx DataLclz::sCkernhdimlabel{"KERNELS"};

// Master page
const CoreAnsx DataLclz::sCmastmodelabel{"MODE"};
const CoreAnsx DataLclz::sCmastmode[iCmastmode] = {"0 Simple       ", "1 Guru         "};
const CoreAnsx DataLclz::sCmastfontcolourlabel{"COLOUR"};
const CoreAnsx DataLclz::sCmastmetertype[iCmastmetertype] = {
    "0 Average      ", "1 RMS          ", "2 Peak         ", "3 Average 17   ", "4 RMS 17    ",
    "5 EVF          ", "6 EVF 17       ", "7 VU           ", "8 TRUE RMS 17  "};
const CoreAnsx DataLclz::sCmastmetertypelabel{"METERS"};
const CoreAnsx DataLclz::sCmastoptimization[iCmastoptimization] = {
    "1 FPU 1Stereo  ", "2 SSE2 2Mono   ", "3 FPU 2Mono    ", "4 FPUf 1Stereo ", "5 SSE2f 2Mono  ",
    "6 FFTW 2Mono   ", "7 FFTW pa 2Mono", "8 FFTW ch 2Mono", "9 IPPS 2Mono   ", "10IPPS pa 2Mono",
    "11IPPS ch 2Mono", "12CUDA pa 2Mono", "13CUDA en 2Mono", "14CUDA ch 2Mono", "15CUDA ac 2Mono"};
const CoreAnsx DataLclz::sCmastoptimizationlabel{"OPT TIMED"};
const CoreAnsx DataLclz::sCmastoptimizationfftlabel{"OPT FREQD"};
const CoreAnsx DataLclz::sCmastaudioquality[iCmastaudioquality] = {"1", "2", "3", "4", "5"};
const CoreAnsx DataLclz::sCmastaudioqualitylabel{"QUALITY"};
const CoreAnsx DataLclz::sCmasthdim[iCmasthdim] = {
    "Clean only   ", "2  (1st harm)", "3  (2nd harm)", "4  (3rd harm)", "5  (4th harm)",
    "6  (5th harm)", "7  (6th harm)", "8  (7th harm)", "9  (8th harm)", "10 (9th harm)",
    "11 (10th hrm)", "12 (11th hrm)", "13 (12th hrm)", "14 (13th hrm)", "15 (14th hrm)",
    "16 (15th hrm)", "17 (16th hrm)", "18 (17th hrm)", "19 (18th hrm)", "20 (19th hrm)"};
const CoreAnsx DataLclz::sCmasthdimlabel{"KERNELS"};
const CoreAnsx DataLclz::sCmastboot[iCmastboot] = {"0 slow", "1 fast"};
const CoreAnsx DataLclz::sCmastbootlabel{"*BOOT"};
const CoreAnsx DataLclz::sCmastscanboot[iCmastscanboot] = {"0 fast", "1 recovery"};
const CoreAnsx DataLclz::sCmastscanbootlabel{"*SCAN BOOT"};
const CoreAnsx DataLclz::sCmastforcerate[iCmastforcerate] = {"0 no", "1 yes"};
const CoreAnsx DataLclz::sCmastforceratelabel{"RATE CNV"};
const CoreAnsx DataLclz::sCmastnodrop[iCmastnodrop] = {"0 no", "1 yes"};
const CoreAnsx DataLclz::sCmastnodroplabel{"GHOST MODE"};
const CoreAnsx DataLclz::sCmastthreadpriority[iCmastthreadpriority] = {
    "0 lowest", "1 lower", "2 normal", "3 higher", "4 highest"};
const CoreAnsx DataLclz::sCmastloaderprioritylabel{"LOADER PR"};
const CoreAnsx DataLclz::sCmastprogramratelabel{"PROG RATE"};
const CoreAnsx DataLclz::sCmastworkbufferlabel{"*WRK BUFF"};
const CoreAnsx DataLclz::sCmastforceoffsetlabel{"*OFFSET"};
const CoreAnsx DataLclz::sCmastforcelengthlabel{"*L TIMED"};
const CoreAnsx DataLclz::sCmastforcelengthfftlabel{"*L FREQD"};
const CoreAnsx DataLclz::sCmastguiratelabel{"*GUI RATE"};
const CoreAnsx DataLclz::sCmastdspbufferlabel{"*DSP BUFF"};
const CoreAnsx DataLclz::sCmastskinlabel{"*SKIN"};
const CoreAnsx DataLclz::sCmastdatapathlabel{"DATA PATH"};
const CoreAnsx DataLclz::sCmastprogramsubpathlabel{"PROG PATH"};
const CoreAnsx DataLclz::sCmastversionlabel{"VERSION"};
const CoreAnsx DataLclz::sCmastaheadlabel{"*AHEAD"};
const CoreAnsx DataLclz::sCmastx2label{"x2"};
const CoreAnsx DataLclz::sCmastautothreadlabel{"AUTOTHREAD"};
const CoreAnsx DataLclz::sCmastdspbuffers[iCmastdspbuffers] = {"128",  "256",  "512", "1024",
                                                               "2048", "4096", "8192"};
const CoreAnsx DataLclz::sCmastdspbufferlabels{"*DSPBUFFER"};

// MIDI page
const CoreAnsx DataLclz::sCmidimixlabel{""};
const CoreAnsx DataLclz::sCmidictrlabel{"Ctr:"};
const CoreAnsx DataLclz::sCmidichlabel{"Ch:"};
const CoreAnsx DataLclz::sCmidivaluelabel{"Val:"};

// LFO page
const CoreAnsx DataLclz::sClfo_minratelabel{"MnRate:"};
const CoreAnsx DataLclz::sClfo_maxratelabel{"MxRate:"};
const CoreAnsx DataLclz::sClfo_ratequantize[iClfo_ratequantize] = {"-1", "1",  "2",  "4",
                                                                   "8",  "16", "32", "64"};
const CoreAnsx DataLclz::sClfo_ratequantizelabel{"Q:"};
const CoreAnsx DataLclz::sClfo_ratesourcelabel{"RateSc:"};
const CoreAnsx DataLclz::sClfo_shapelabel{"Shape:"};
const CoreAnsx DataLclz::sClfo_phaselabel{"Phase:"};
const CoreAnsx DataLclz::sClfo_phasesourcelabel{"PhseSc:"};

// Global page
const CoreAnsx DataLclz::sCglobstatuslabel{"S:"};
const CoreAnsx DataLclz::sCglobvaluelabel{"V:"};
const CoreAnsx DataLclz::sCglobmixlabel{"MIX"};
const CoreAnsx DataLclz::sCglobgainpadinlabel{"PAD IN:"};
const CoreAnsx DataLclz::sCglobgainpadoutlabel{"PAD OUT:"};
const CoreAnsx DataLclz::sCglobprogramratelabel{"RATE:"};
const CoreAnsx DataLclz::sCglobprogramratestatuslabel{"RATE S:"};
const CoreAnsx DataLclz::sCglobfeedbackfactorlabel{"FEEDBK:"};
const CoreAnsx DataLclz::sCglobfeedbacksourcelabel{"FEEDBK SC:"};
const CoreAnsx DataLclz::sCgloblookaheadlabel{"AHEAD:"};
const CoreAnsx DataLclz::sCgloblookaheadsourcelabel{"AHEAD SC:"};
const CoreAnsx DataLclz::sCglobgaindryfactorlabel{"DRY:"};
const CoreAnsx DataLclz::sCglobgaindrysourcelabel{"DRY SC:"};
const CoreAnsx DataLclz::sCglobsmoothlabel{"SMOOTH:"};
const CoreAnsx DataLclz::sCglobsmooth[iCglobsmooth] = {
    "OFF",   "LINEAR", "PARAB", "CUBIC", "POW 4", "POW 5", "POW 6", "POW 7",
    "POW 8", "POW 9",  "POW10", "POW11", "POW12", "POW13", "POW14", "POW15",
    "POW16", "POW17",  "POW18", "POW19", "EXP",   "LINDB", "PARDB", "CUBDB",
    "PW4DB", "PW5DB",  "PW6DB", "PW7DB", "PW8DB", "PW9DB", "EXPDB"};

// Disk page
const CoreAnsx DataLclz::sCdisklibrarylabel{"SELECT LIBRARY:"};
const CoreAnsx DataLclz::sCdiskbanklabel{"SELECT BANK:"};
const CoreAnsx DataLclz::sCdiskbank[iCdiskbank] = {"100..199", "200..299", "300..399", "400..499",
                                                   "500..599", "600..699", "700..799", "800..899",
                                                   "900..999", "000..099"};
const CoreAnsx DataLclz::sCdiskallcmemlabel{"LOCAL MEM:"};
const CoreAnsx DataLclz::sCdiskpeakmemlabel{"PEAK MEM:"};
const CoreAnsx DataLclz::sCdiskshrdmemlabel{"SHARED MEM:"};
const CoreAnsx DataLclz::sCdisklatencylabel{"LATENCY:"};
const CoreAnsx DataLclz::sCdiskversionlabel{"VERSION:"};
const CoreAnsx DataLclz::sCdiskbridge_label{"BRIDGE:"};

// Function page
const CoreAnsx DataLclz::sCfun_alabel{"A:"};
const CoreAnsx DataLclz::sCfun_adblabel{"(dB)"};
const CoreAnsx DataLclz::sCfun_blabel{"B:"};
const CoreAnsx DataLclz::sCfun_bdblabel{"(dB)"};
const CoreAnsx DataLclz::sCfun_funlabel{"FUN:"};

// About page
const CoreAnsx DataLclz::sCaboulines[iCaboulines] = {"Dynamic convolution for audio effects",
                                                     "Kernels that follow the input level,",
                                                     "harmonic orders and modulators",
                                                     "Programs kept as XML documents",
                                                     "100 banks of 100 program slots",
                                                     "LFOs, envelopes, envelope followers,",
                                                     "functions and dynamics as modulators",
                                                     "Written anew, line by line",
                                                     "Thank you for listening"};

// Envelope follower page
const CoreAnsx DataLclz::sCevf_minattacklabel{"Att Min:"};
const CoreAnsx DataLclz::sCevf_maxattacklabel{"Att Max:"};
const CoreAnsx DataLclz::sCevf_attacksourcelabel{"Att Sc:"};
const CoreAnsx DataLclz::sCevf_dattacksourcelabel{"Dyn Att Sc:"};
const CoreAnsx DataLclz::sCevf_minreleaselabel{"Rel Min:"};
const CoreAnsx DataLclz::sCevf_maxreleaselabel{"Rel Max:"};
const CoreAnsx DataLclz::sCevf_releasesourcelabel{"Rel Sc:"};
const CoreAnsx DataLclz::sCevf_dreleasesourcelabel{"Dyn Rel Sc:"};
const CoreAnsx DataLclz::sCevf_outputbalancelabel{"I/O Bal:"};
const CoreAnsx DataLclz::sCevf_highpasslabel{"Highpass:"};
const CoreAnsx DataLclz::sCevf_highpassorderlabel{"O:"};
const CoreAnsx DataLclz::sCevf_highpasssourcelabel{"Highpass Sc:"};
const CoreAnsx DataLclz::sCevf_explabel{"Env Type:"};
const CoreAnsx DataLclz::sCevf_type[iCevf_type] = {"AVR    ", "RMS    ", "Peak   ", "AVR 17 ",
                                                   "RMS 17 ", "EVF    ", "EVF 17 ", "VU     ",
                                                   "TRMS 17", "OFF    "};
const CoreAnsx DataLclz::sCevf_order[iCevf_order] = {"0 ", "2", "4", "6",
                                                     "8"}; // "0" alone draws nothing

// Memory page
const CoreAnsx DataLclz::sCmemobanklabel{"BANK:"};
const CoreAnsx DataLclz::sCmemomemorylabel{"MEMORY:"};
const CoreAnsx DataLclz::sCmemoemptylabel{"<empty>"};
const CoreAnsx DataLclz::sCmemonamelabel{"NAME:"};
const CoreAnsx DataLclz::sCmemocatlabel{"CAT:"};
const CoreAnsx DataLclz::sCmemodesclabel{"DESC:"};
const CoreAnsx DataLclz::sCmemonewnamelabel{"NEW:"};

// Envelope page
const CoreAnsx DataLclz::sCenv_activsourcelabel{"ActivSc:"};
const CoreAnsx DataLclz::sCenv_deactivsourcelabel{"DeactSc:"};
const CoreAnsx DataLclz::sCenv_levelstartlabel{"Start:"};
const CoreAnsx DataLclz::sCenv_levelattacklabel{"Attack:"};
const CoreAnsx DataLclz::sCenv_levelbreaklabel{"Break:"};
const CoreAnsx DataLclz::sCenv_levelsustainlabel{"Sustain:"};
const CoreAnsx DataLclz::sCenv_levelmodfactorlabel{"Amount:"};
const CoreAnsx DataLclz::sCenv_levelmodsourcelabel{"AmountSc:"};
const CoreAnsx DataLclz::sCenv_attacklabel{"Attack:"};
const CoreAnsx DataLclz::sCenv_decaylabel{"Decay:"};
const CoreAnsx DataLclz::sCenv_slopelabel{"Slope:"};
const CoreAnsx DataLclz::sCenv_releaselabel{"Release:"};
const CoreAnsx DataLclz::sCenv_modfactorlabel{"Amount:"};
const CoreAnsx DataLclz::sCenv_modsourcelabel{"AmountSc:"};
const CoreAnsx DataLclz::sCenv_levellabel{"Level:"};
const CoreAnsx DataLclz::sCenv_timelabel{"Time:"};
const CoreAnsx DataLclz::sCenv_curvelabel{"Curve:"};
const CoreAnsx DataLclz::sCenv_attacksmooth[iCenv_attacksmooth] = {"JOIN"};
const CoreAnsx DataLclz::sCenv_curve[iCenv_curve] = {"LINEAR",  "CURVE 1", "CURVE 2", "CURVE 3",
                                                     "CURVE 4", "CURVE 5", "CURVE 6", "CURVE 7",
                                                     "CURVE 8", "EXP"};

// Dynamics page
const CoreAnsx DataLclz::sCdyn_typelabel{"Dynmc Type:"};
const CoreAnsx DataLclz::sCdyn_tresholdsourcelabel{"Thold Sc:"};
const CoreAnsx DataLclz::sCdyn_inputsourcelabel{"Input Sc:"};
const CoreAnsx DataLclz::sCdyn_ratiosourcelabel{"Ratio Sc:"};
const CoreAnsx DataLclz::sCdyn_ratiocurvelabel{"Curve:"};
const CoreAnsx DataLclz::sCdyn_rangelimitlabel{"Range:"};
const CoreAnsx DataLclz::sCdyn_gainpadfactorlabel{"Mkeup:"};
const CoreAnsx DataLclz::sCdyn_type[iCdyn_type] = {"COMP", "EXPN"};
const CoreAnsx DataLclz::sCdyn_curve[iCdyn_curve] = {"LINEAR", "ANALOG", "EXP 1", "EXP 2", "EXP 3",
                                                     "EXP 4",  "EXP 5",  "EXP 6", "EXP 7", "EXP 8"};

// Parameter modulator list page
const CoreAnsx DataLclz::sCprm_visiblelabel{"Visible:"};
const CoreAnsx DataLclz::sCprm_invisiblelabel{"Invisib:"};
const CoreAnsx DataLclz::sCprm_prmnotlabeled{"UNDEFINED"};

// Parameter modulator edit page
const CoreAnsx DataLclz::sCprm2labellabel{"Label:"};
const CoreAnsx DataLclz::sCprm2unitlabel{"Unit:"};
const CoreAnsx DataLclz::sCprm2preunitlabel{"Pre lb:"};
const CoreAnsx DataLclz::sCprm2postunitlabel{"Post lb:"};
const CoreAnsx DataLclz::sCprm2prelabellabel{"Assign:"};
const CoreAnsx DataLclz::sCprm2prelabel[iCprm2prelabel] = {"No ",  "MIX1", "MIX2", "MIX3", "MIX4",
                                                           "MIX5", "MIX6", "MIX7", "MIX8"};
const CoreAnsx DataLclz::sCprm2minlabel{"Min:"};
const CoreAnsx DataLclz::sCprm2maxlabel{"Max:"};
const CoreAnsx DataLclz::sCprm2barminlabel{"Bar min:"};
const CoreAnsx DataLclz::sCprm2barmaxlabel{"Bar max:"};
