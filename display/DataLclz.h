#pragma once
// DataLclz: every fixed text the display pages draw: unit suffixes, captions,
// status prints and the choice lists the pages step through. Texts keep their
// blanks exactly; most list entries are padded to a common width. A list
// `sCname` has its entry count in `iCname`.
// Owner: nobody; static members only, never instantiated. All texts are built
// in one unit (DataLclz.cpp) when the library loads, in the order below; read
// them at run time only, not from another unit's static initialiser.
// Threads: any thread, read-only.

#include "runtime/CoreAnsx.h"

class DataLclz {
public:
    DataLclz() = delete;

    // ---- Units (appended after values; each begins with a blank)
    static const CoreAnsx sCunitms;
    static const CoreAnsx sCunitsc;
    static const CoreAnsx sCunithz;
    static const CoreAnsx sCunitmb;
    static const CoreAnsx sCunittimes;
    static const CoreAnsx sCunitdb;
    static const CoreAnsx sCunitdeg;
    static const CoreAnsx sCunitpc;
    static const CoreAnsx sCunitkb;

    // ---- General status prints and the off/on pair
    static constexpr int iCgeneoffon = 2;
    static const CoreAnsx sCgeneoffon[iCgeneoffon];
    static const CoreAnsx sCgenclearedbankprint;
    static const CoreAnsx sCgenloadedprint;
    static const CoreAnsx sCgenloadingprint;
    static const CoreAnsx sCgensavingprint;
    static const CoreAnsx sCgendeletedprint;
    static const CoreAnsx sCgenmovedprint;
    static const CoreAnsx sCgenbanksavedprint;

    // ---- Kernel loading prints
    static const CoreAnsx sCkerhybridprint;
    static const CoreAnsx sCkermonoprint;

    // ---- Gain labels
    static const CoreAnsx sCviewgaininlabel;
    static const CoreAnsx sCviewgainoutlabel;
    static const CoreAnsx sCviewgainslabel;

    // ---- Kernel page
    static const CoreAnsx sCkerncleanlabel;
    static const CoreAnsx sCkernevenlabel;
    static const CoreAnsx sCkernoddslabel;
    static const CoreAnsx sCkerndirlabel;
    static const CoreAnsx sCkernfftlabel;
    static const CoreAnsx sCkernfadeoutlabel;
    static constexpr int iCkernhdim = 21;
    static const CoreAnsx sCkernhdim[iCkernhdim];
    static const CoreAnsx sCkernhdimlabel;

    // ---- Master page
    static const CoreAnsx sCmastmodelabel;
    static constexpr int iCmastmode = 2;
    static const CoreAnsx sCmastmode[iCmastmode];
    static const CoreAnsx sCmastfontcolourlabel;
    static constexpr int iCmastmetertype = 9;
    static const CoreAnsx sCmastmetertype[iCmastmetertype];
    static const CoreAnsx sCmastmetertypelabel;
    static constexpr int iCmastoptimization = 15;
    static const CoreAnsx sCmastoptimization[iCmastoptimization];
    static const CoreAnsx sCmastoptimizationlabel;
    static const CoreAnsx sCmastoptimizationfftlabel;
    static constexpr int iCmastaudioquality = 5;
    static const CoreAnsx sCmastaudioquality[iCmastaudioquality];
    static const CoreAnsx sCmastaudioqualitylabel;
    static constexpr int iCmasthdim = 20;
    static const CoreAnsx sCmasthdim[iCmasthdim];
    static const CoreAnsx sCmasthdimlabel;
    static constexpr int iCmastboot = 2;
    static const CoreAnsx sCmastboot[iCmastboot];
    static const CoreAnsx sCmastbootlabel;
    static constexpr int iCmastscanboot = 2;
    static const CoreAnsx sCmastscanboot[iCmastscanboot];
    static const CoreAnsx sCmastscanbootlabel;
    static constexpr int iCmastforcerate = 2;
    static const CoreAnsx sCmastforcerate[iCmastforcerate];
    static const CoreAnsx sCmastforceratelabel;
    static constexpr int iCmastnodrop = 2;
    static const CoreAnsx sCmastnodrop[iCmastnodrop];
    static const CoreAnsx sCmastnodroplabel;
    static constexpr int iCmastthreadpriority = 5;
    static const CoreAnsx sCmastthreadpriority[iCmastthreadpriority];
    static const CoreAnsx sCmastloaderprioritylabel;
    static const CoreAnsx sCmastprogramratelabel;
    static const CoreAnsx sCmastworkbufferlabel;
    static const CoreAnsx sCmastforceoffsetlabel;
    static const CoreAnsx sCmastforcelengthlabel;
    static const CoreAnsx sCmastforcelengthfftlabel;
    static const CoreAnsx sCmastguiratelabel;
    static const CoreAnsx sCmastdspbufferlabel;
    static const CoreAnsx sCmastskinlabel;
    static const CoreAnsx sCmastdatapathlabel;
    static const CoreAnsx sCmastprogramsubpathlabel;
    static const CoreAnsx sCmastversionlabel;
    static const CoreAnsx sCmastaheadlabel;
    static const CoreAnsx sCmastx2label;
    static const CoreAnsx sCmastautothreadlabel;
    static constexpr int iCmastdspbuffers = 7;
    static const CoreAnsx sCmastdspbuffers[iCmastdspbuffers];
    static const CoreAnsx sCmastdspbufferlabels;

    // ---- MIDI page
    static const CoreAnsx sCmidimixlabel;
    static const CoreAnsx sCmidictrlabel;
    static const CoreAnsx sCmidichlabel;
    static const CoreAnsx sCmidivaluelabel;

    // ---- LFO page
    static const CoreAnsx sClfo_minratelabel;
    static const CoreAnsx sClfo_maxratelabel;
    static constexpr int iClfo_ratequantize = 8;
    static const CoreAnsx sClfo_ratequantize[iClfo_ratequantize];
    static const CoreAnsx sClfo_ratequantizelabel;
    static const CoreAnsx sClfo_ratesourcelabel;
    static const CoreAnsx sClfo_shapelabel;
    static const CoreAnsx sClfo_phaselabel;
    static const CoreAnsx sClfo_phasesourcelabel;

    // ---- Global page
    static const CoreAnsx sCglobstatuslabel;
    static const CoreAnsx sCglobvaluelabel;
    static const CoreAnsx sCglobmixlabel;
    static const CoreAnsx sCglobgainpadinlabel;
    static const CoreAnsx sCglobgainpadoutlabel;
    static const CoreAnsx sCglobprogramratelabel;
    static const CoreAnsx sCglobprogramratestatuslabel;
    static const CoreAnsx sCglobfeedbackfactorlabel;
    static const CoreAnsx sCglobfeedbacksourcelabel;
    static const CoreAnsx sCgloblookaheadlabel;
    static const CoreAnsx sCgloblookaheadsourcelabel;
    static const CoreAnsx sCglobgaindryfactorlabel;
    static const CoreAnsx sCglobgaindrysourcelabel;
    static const CoreAnsx sCglobsmoothlabel;
    static constexpr int iCglobsmooth = 31;
    static const CoreAnsx sCglobsmooth[iCglobsmooth];

    // ---- Disk page
    static const CoreAnsx sCdisklibrarylabel;
    static const CoreAnsx sCdiskbanklabel;
    static constexpr int iCdiskbank = 10;
    static const CoreAnsx sCdiskbank[iCdiskbank];
    static const CoreAnsx sCdiskallcmemlabel;
    static const CoreAnsx sCdiskpeakmemlabel;
    static const CoreAnsx sCdiskshrdmemlabel;
    static const CoreAnsx sCdisklatencylabel;
    static const CoreAnsx sCdiskversionlabel;
    static const CoreAnsx sCdiskbridge_label;

    // ---- Function page
    static const CoreAnsx sCfun_alabel;
    static const CoreAnsx sCfun_adblabel;
    static const CoreAnsx sCfun_blabel;
    static const CoreAnsx sCfun_bdblabel;
    static const CoreAnsx sCfun_funlabel;

    // ---- About page
    static constexpr int iCaboulines = 9;
    static const CoreAnsx sCaboulines[iCaboulines];

    // ---- Envelope follower page
    static const CoreAnsx sCevf_minattacklabel;
    static const CoreAnsx sCevf_maxattacklabel;
    static const CoreAnsx sCevf_attacksourcelabel;
    static const CoreAnsx sCevf_dattacksourcelabel;
    static const CoreAnsx sCevf_minreleaselabel;
    static const CoreAnsx sCevf_maxreleaselabel;
    static const CoreAnsx sCevf_releasesourcelabel;
    static const CoreAnsx sCevf_dreleasesourcelabel;
    static const CoreAnsx sCevf_outputbalancelabel;
    static const CoreAnsx sCevf_highpasslabel;
    static const CoreAnsx sCevf_highpassorderlabel;
    static const CoreAnsx sCevf_highpasssourcelabel;
    static const CoreAnsx sCevf_explabel;
    static constexpr int iCevf_type = 10;
    static const CoreAnsx sCevf_type[iCevf_type];
    static constexpr int iCevf_order = 5; // "0" for no highpass, then 2..8
    static const CoreAnsx sCevf_order[iCevf_order];

    // ---- Memory page
    static const CoreAnsx sCmemobanklabel;
    static const CoreAnsx sCmemomemorylabel;
    static const CoreAnsx sCmemoemptylabel;
    static const CoreAnsx sCmemonamelabel;
    static const CoreAnsx sCmemocatlabel;
    static const CoreAnsx sCmemodesclabel;
    static const CoreAnsx sCmemonewnamelabel;

    // ---- Envelope page
    static const CoreAnsx sCenv_activsourcelabel;
    static const CoreAnsx sCenv_deactivsourcelabel;
    static const CoreAnsx sCenv_levelstartlabel;
    static const CoreAnsx sCenv_levelattacklabel;
    static const CoreAnsx sCenv_levelbreaklabel;
    static const CoreAnsx sCenv_levelsustainlabel;
    static const CoreAnsx sCenv_levelmodfactorlabel;
    static const CoreAnsx sCenv_levelmodsourcelabel;
    static const CoreAnsx sCenv_attacklabel;
    static const CoreAnsx sCenv_decaylabel;
    static const CoreAnsx sCenv_slopelabel;
    static const CoreAnsx sCenv_releaselabel;
    static const CoreAnsx sCenv_modfactorlabel;
    static const CoreAnsx sCenv_modsourcelabel;
    static const CoreAnsx sCenv_levellabel;
    static const CoreAnsx sCenv_timelabel;
    static const CoreAnsx sCenv_curvelabel;
    static constexpr int iCenv_attacksmooth = 1;
    static const CoreAnsx sCenv_attacksmooth[iCenv_attacksmooth];
    static constexpr int iCenv_curve = 10;
    static const CoreAnsx sCenv_curve[iCenv_curve];

    // ---- Dynamics page
    static const CoreAnsx sCdyn_typelabel;
    static const CoreAnsx sCdyn_tresholdsourcelabel;
    static const CoreAnsx sCdyn_inputsourcelabel;
    static const CoreAnsx sCdyn_ratiosourcelabel;
    static const CoreAnsx sCdyn_ratiocurvelabel;
    static const CoreAnsx sCdyn_rangelimitlabel;
    static const CoreAnsx sCdyn_gainpadfactorlabel;
    static constexpr int iCdyn_type = 2;
    static const CoreAnsx sCdyn_type[iCdyn_type];
    static constexpr int iCdyn_curve = 10;
    static const CoreAnsx sCdyn_curve[iCdyn_curve];

    // ---- Parameter modulator list page
    static const CoreAnsx sCprm_visiblelabel;
    static const CoreAnsx sCprm_invisiblelabel;
    static const CoreAnsx sCprm_prmnotlabeled;

    // ---- Parameter modulator edit page
    static const CoreAnsx sCprm2labellabel;
    static const CoreAnsx sCprm2unitlabel;
    static const CoreAnsx sCprm2preunitlabel;
    static const CoreAnsx sCprm2postunitlabel;
    static const CoreAnsx sCprm2prelabellabel;
    static constexpr int iCprm2prelabel = 9;
    static const CoreAnsx sCprm2prelabel[iCprm2prelabel];
    static const CoreAnsx sCprm2minlabel;
    static const CoreAnsx sCprm2maxlabel;
    static const CoreAnsx sCprm2barminlabel;
    static const CoreAnsx sCprm2barmaxlabel;
};
