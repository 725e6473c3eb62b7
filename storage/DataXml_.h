#pragma once
// DataXml_: the one table of tag names shared by every reader and writer of
// program, setup, cache and chunk documents, master settings, skin
// descriptions and the category dictionary. Code never spells a tag as a
// literal; it names the member here, so a tag is renamed in one place.
// No instances: every member is a static constant text, upper case, built
// before any document is read and destroyed at process exit.
// Threads: any; the texts are read-only after static initialisation.
// Inline, so a static initialiser in any file including this header sees
// them already constructed.
//
// A few texts appear under two members on purpose: the skin's "MIX",
// "GAININ" and "GAINOUT" have their own members beside the program's, and
// the skin uses "LED" under two members.

#include "runtime/CoreAnsx.h"

class DataXml_ {
public:
    DataXml_() = delete;

    // Program document, head and gains (also the head of setup and cache documents)
    static inline const CoreAnsx sCtagprogrm{"PROGRAM"};
    static inline const CoreAnsx sCtagprognm{"NAME"};
    static inline const CoreAnsx sCtagcategr{"CATEGORY"};
    static inline const CoreAnsx sCtagsubca1{"SUBCATEGORY1"};
    static inline const CoreAnsx sCtagsubca2{"SUBCATEGORY2"};
    static inline const CoreAnsx sCtagdescrp{"DESCRIPTION"};
    static inline const CoreAnsx sCtaggainou{"GAINOUT"};
    static inline const CoreAnsx sCtaggainin{"GAININ"};
    static inline const CoreAnsx sCtaggnpdou{"GAINPADOUT"};
    static inline const CoreAnsx sCtaggnpdin{"GAINPADIN"};
    static inline const CoreAnsx sCtaggainir{"GAINIR"};

    // Program document, LFO section
    static inline const CoreAnsx sCtagrootlf{"LFO"};
    static inline const CoreAnsx sCtaglforto{"RATELFO"};
    static inline const CoreAnsx sCtagmnrate{"MINRATE"};
    static inline const CoreAnsx sCtagmxrate{"MAXRATE"};
    static inline const CoreAnsx sCtaglfortq{"RATEQUANTIZE"};
    static inline const CoreAnsx sCtagsource{"SOURCE"};
    static inline const CoreAnsx sCtagbussrc{"BUSSOURCE"};
    static inline const CoreAnsx sCtagshape_{"SHAPE"};
    static inline const CoreAnsx sCtagphasef{"PHASEFACTOR"};
    static inline const CoreAnsx sCtagphases{"PHASESOURCE"};

    // Program document, function section
    static inline const CoreAnsx sCtagrootfn{"FUN"};
    static inline const CoreAnsx sCtagfuncta{"A"};
    static inline const CoreAnsx sCtagfunctb{"B"};
    static inline const CoreAnsx sCtagfunctc{"C"};
    static inline const CoreAnsx sCtagfunctd{"D"};
    static inline const CoreAnsx sCtagrootrf{"RAWFUN"};
    static inline const CoreAnsx sCtagrooth_{"H"};

    // Program document, vectors, elements and controls
    static inline const CoreAnsx sCtagelemnt{"ELEMENT"};
    static inline const CoreAnsx sCtagvector{"VECTOR"};
    static inline const CoreAnsx sCtagfilenm{"FILENAME"};
    static inline const CoreAnsx sCtagfilept{"FILEPATH"};
    static inline const CoreAnsx sCtagcontrl{"CONTROL"};
    static inline const CoreAnsx sCtagweight{"WEIGHT"};
    static inline const CoreAnsx sCtagbuswgt{"BUSWEIGHT"};
    static inline const CoreAnsx sCtagcommon{"COMMON"};
    static inline const CoreAnsx sCtagmnvalu{"MINVALUE"};
    static inline const CoreAnsx sCtagmxvalu{"MAXVALUE"};
    static inline const CoreAnsx sCtagmnbusv{"BUSMINVALUE"};
    static inline const CoreAnsx sCtagmxbusv{"BUSMAXVALUE"};
    static inline const CoreAnsx sCtaguntval{"UNITVALUE"};
    static inline const CoreAnsx sCtagliquid{"LIQUIDFACTOR"};
    static inline const CoreAnsx sCtaglqsrce{"LIQUIDSOURCE"};
    static inline const CoreAnsx sCtagfadein{"FADEIN"};
    static inline const CoreAnsx sCtagfadeic{"FADEINCURVE"};
    static inline const CoreAnsx sCtagoffset{"OFFSET"};
    static inline const CoreAnsx sCtagfadeou{"FADEOUT"};
    static inline const CoreAnsx sCtagfadeoc{"FADEOUTCURVE"};
    static inline const CoreAnsx sCtaglength{"LENGTH"};
    static inline const CoreAnsx sCtaggainpd{"GAINPADFACTOR"};
    static inline const CoreAnsx sCtaggainps{"GAINPADSOURCE"};
    static inline const CoreAnsx sCtaggnsrce{"GAINSOURCE"};
    static inline const CoreAnsx sCtaggainhd{"GAINHANDLE"};
    static inline const CoreAnsx sCtaggainlm{"GAINLIMITER"};

    // Program document, mix section
    static inline const CoreAnsx sCtagrootmx{"MIX"};
    static inline const CoreAnsx sCtagfeedbk{"FEEDBACKFACTOR"};
    static inline const CoreAnsx sCtagfbsrce{"FEEDBACKSOURCE"};
    static inline const CoreAnsx sCtagpanfct{"PANFACTOR"};
    static inline const CoreAnsx sCtagpnsrce{"PANSOURCE"};

    // Program document, envelope section
    static inline const CoreAnsx sCtagrootev{"ENV"};
    static inline const CoreAnsx sCtagacsrce{"ACTIVSOURCE"};
    static inline const CoreAnsx sCtagdasrce{"DEACTIVSOURCE"};
    static inline const CoreAnsx sCtagevlevl{"LEVEL"};
    static inline const CoreAnsx sCtagevtime{"TIME"};
    static inline const CoreAnsx sCtagevcrve{"CURVE"};
    static inline const CoreAnsx sCtagevstrt{"START"};
    static inline const CoreAnsx sCtagevattc{"ATTACK"};
    static inline const CoreAnsx sCtagevbrea{"BREAK"};
    static inline const CoreAnsx sCtagevsust{"SUSTAIN"};
    static inline const CoreAnsx sCtagevdecy{"DECAY"};
    static inline const CoreAnsx sCtagevslpe{"SLOPE"};
    static inline const CoreAnsx sCtagevrlse{"RELEASE"};
    static inline const CoreAnsx sCtagmodfct{"MODFACTOR"};
    static inline const CoreAnsx sCtagmdsrce{"MODSOURCE"};

    // Program document, envelope follower section
    static inline const CoreAnsx sCtagrootef{"EVF"};
    static inline const CoreAnsx sCtagrootea{"EAT"};
    static inline const CoreAnsx sCtagrooter{"ERT"};
    static inline const CoreAnsx sCtagefenet{"ENABLEEATERT"};
    static inline const CoreAnsx sCtagefoutp{"OUTPUTBALANCE"};
    static inline const CoreAnsx sCtagefbbsr{"BUSBALANCESOURCE"};
    static inline const CoreAnsx sCtagefdatt{"DATTACKSOURCE"};
    static inline const CoreAnsx sCtagefdrel{"DRELEASESOURCE"};
    static inline const CoreAnsx sCtagefoatt{"OATTACKSOURCE"};
    static inline const CoreAnsx sCtageforel{"ORELEASESOURCE"};
    static inline const CoreAnsx sCtagefexpn{"EXP"};
    static inline const CoreAnsx sCtagattkmn{"MINATTACK"};
    static inline const CoreAnsx sCtagattkmx{"MAXATTACK"};
    static inline const CoreAnsx sCtagrlsemn{"MINRELEASE"};
    static inline const CoreAnsx sCtagrlsemx{"MAXRELEASE"};
    static inline const CoreAnsx sCtagatsrce{"ATTACKSOURCE"};
    static inline const CoreAnsx sCtagrlsrce{"RELEASESOURCE"};

    // Program document, dynamics section
    static inline const CoreAnsx sCtagrootdn{"DNM"};
    static inline const CoreAnsx sCtagtrsrce{"THRESHOLDSOURCE"};
    static inline const CoreAnsx sCtaginsrce{"INPUTSOURCE"};
    static inline const CoreAnsx sCtagrcsrce{"RATIOCOMSOURCE"};
    static inline const CoreAnsx sCtagresrce{"RATIOEXPSOURCE"};
    static inline const CoreAnsx sCtagdnrtcv{"RATIOCURVE"};
    static inline const CoreAnsx sCtagdnrnge{"RANGELIMIT"};

    // Program document, display and parameter section
    static inline const CoreAnsx sCtagrootds{"DISPLAY"};
    static inline const CoreAnsx sCtagrootpm{"PRM"};
    static inline const CoreAnsx sCtagroot2p{"LUMOIIPRM"};
    static inline const CoreAnsx sCtagdsprlb{"PRELABEL"};
    static inline const CoreAnsx sCtagdslabl{"LABEL"};
    static inline const CoreAnsx sCtagdsprun{"PREUNIT"};
    static inline const CoreAnsx sCtagdspoun{"POSTUNIT"};
    static inline const CoreAnsx sCtagdsunit{"UNIT"};
    static inline const CoreAnsx sCtagmnbrvl{"BARMINVALUE"};
    static inline const CoreAnsx sCtagmxbrvl{"BARMAXVALUE"};
    static inline const CoreAnsx sCtadsvisbl{"VISIBLE"};

    // Program document, engine options
    static inline const CoreAnsx sCtaglookah{"LOOKAHEAD"};
    static inline const CoreAnsx sCtaglasrce{"LOOKAHEADSOURCE"};
    static inline const CoreAnsx sCtagprrate{"PROGRAMRATE"};
    static inline const CoreAnsx sCtaggaindr{"GAINDRYFACTOR"};
    static inline const CoreAnsx sCtaggainds{"GAINDRYSOURCE"};
    static inline const CoreAnsx sCtagsmooth{"SMOOTH"};
    static inline const CoreAnsx sCtagaligbl{"ALIGNBALANCE"};
    static inline const CoreAnsx sCtagaligof{"ALIGNOFFSET"};
    static inline const CoreAnsx sCtagtrainm{"TRAINMODE"};
    static inline const CoreAnsx sCtagtraint{"TRAINTHRESHOLD"};
    static inline const CoreAnsx sCtagjittrm{"JITTERMODE"};
    static inline const CoreAnsx sCtaghrtf_m{"HRTFMODE"};
    static inline const CoreAnsx sCtagswtchm{"SWITCHMODE"};
    static inline const CoreAnsx sCtagopttyp{"OT"};
    static inline const CoreAnsx sCtagfrcot2{"FORCEOT2"};
    static inline const CoreAnsx sCtagfrcivt{"INVISIBLETHREAD"};
    static inline const CoreAnsx sCtagfrchyb{"FORCEHYBRID"};
    static inline const CoreAnsx sCtagmono_m{"FORCEMONO"};
    static inline const CoreAnsx sCtaghsdim_{"HDIM"};
    static inline const CoreAnsx sCtagactvnm{"VECTORFILENAME"};
    static inline const CoreAnsx sCtagrootrw{"RAW"};
    static inline const CoreAnsx sCtaggpitrm{"GAINPADINTRIMSOURCE"};
    static inline const CoreAnsx sCtaggpotrm{"GAINPADOUTTRIMSOURCE"};
    static inline const CoreAnsx sCtagfltfre{"FILTERFREQUENCY"};
    static inline const CoreAnsx sCtagfltord{"FILTERORDER"};
    static inline const CoreAnsx sCtagfilter{"FILTERSOURCE"};

    // Setup, cache and chunk documents
    static inline const CoreAnsx sCtagsetup_{"SETUP"};
    static inline const CoreAnsx sCtagload__{"LOAD"};
    static inline const CoreAnsx sCtagsequen{"SEQUENCE"};
    static inline const CoreAnsx sCtagselprg{"SELECTEDPROGRAM"};
    static inline const CoreAnsx sCtagorgfnm{"ORIGINALFILENAME"};
    static inline const CoreAnsx sCtagcache_{"CACHE"};
    static inline const CoreAnsx sCtagcachef{"CACHEDFILE"};

    // Master settings (element MASTER)
    static inline const CoreAnsx sCtagmaster{"MASTER"};
    static inline const CoreAnsx sCtagmagic_{"MAGIC"};
    static inline const CoreAnsx sCtaggurate{"GUIRATE"};
    static inline const CoreAnsx sCtagprgspt{"PROGRAMSUBPATH"};
    static inline const CoreAnsx sCtagvecspt{"VECTORSUBPATH"};
    static inline const CoreAnsx sCtagsetspt{"SETUPSUBPATH"};
    static inline const CoreAnsx sCtagsknspt{"SKINSUBPATH"};
    static inline const CoreAnsx sCtagccespt{"CACHESUBPATH"};
    static inline const CoreAnsx sCtagdctspt{"DICTIONARYSUBPATH"};
    static inline const CoreAnsx sCtagsknsnm{"SKINNAME"};
    static inline const CoreAnsx sCtagsetrnm{"SETUPROMNAME"};
    static inline const CoreAnsx sCtagdctrnm{"DICTIONARYROMNAME"};
    static inline const CoreAnsx sCtagdtapth{"DATAPATH"};
    static inline const CoreAnsx sCtagadtpth{"ALTERNATIVEDATAPATH"};
    static inline const CoreAnsx sCtagdebugl{"DL"};
    static inline const CoreAnsx sCtagfastbt{"FASTBOOT"};
    static inline const CoreAnsx sCtagfrozbt{"FROZENBOOT"};
    static inline const CoreAnsx sCtagforcel{"LTIMED"};
    static inline const CoreAnsx sCtagforclf{"LFREQD"};
    static inline const CoreAnsx sCtagforceo{"FORCEOFFSET"};
    static inline const CoreAnsx sCtagwbuffr{"WORKBUFFER"};
    static inline const CoreAnsx sCtagdbuffr{"DSPBUFFER"};
    static inline const CoreAnsx sCtagthread{"THREADS"};
    static inline const CoreAnsx sCtagthdmin{"THREADSMINDIM"};
    static inline const CoreAnsx sCtagmtrtyp{"METERTYPE"};
    static inline const CoreAnsx sCtagoptimz{"OTIMED"};
    static inline const CoreAnsx sCtagoptimf{"OFREQD"};
    static inline const CoreAnsx sCtagexport{"EXPORTAUDIOQUALITY"};
    static inline const CoreAnsx sCtaghsdimm{"HDIMMAX"};
    static inline const CoreAnsx sCtagbpmdef{"BPMDEFAULT"};
    static inline const CoreAnsx sCtagaheadl{"AHEADLENGTH"};
    static inline const CoreAnsx sCtagscanbt{"SCANBOOT"};
    static inline const CoreAnsx sCtagratecv{"RATECONVERSION"};
    static inline const CoreAnsx sCtagcolour{"FONTCOLOUR"};
    static inline const CoreAnsx sCtagnodrop{"NODROP"};
    static inline const CoreAnsx sCtagmstmix{"MIDISTSMIX"};
    static inline const CoreAnsx sCtagmctmix{"MIDICTRMIX"};
    static inline const CoreAnsx sCtagautoth{"AUTOTHREAD"};
    static inline const CoreAnsx sCtagloadrp{"LOADERPRIORITY"};
    static inline const CoreAnsx sCtagfixedq{"FIXEDQUALITY"};
    static inline const CoreAnsx sCtagmode__{"MODE"};
    static inline const CoreAnsx sCtagforcol{"FORCOLUMN"};
    static inline const CoreAnsx sCtaglegstc{"LEGACYSTEREOCHANNEL"};
    static inline const CoreAnsx sCtagrfrovf{"REFRESHOVERFLOW"};
    static inline const CoreAnsx sCtagippthr{"IPPTHREADS"};

    // Skin description
    static inline const CoreAnsx sCtagskin__{"SKIN"};
    static inline const CoreAnsx sCtagfonts_{"FONTS"};
    static inline const CoreAnsx sCtagfontnm{"FONTNAME"};
    static inline const CoreAnsx sCtagfont1_{"FONT1"};
    static inline const CoreAnsx sCtagfont2_{"FONT2"};
    static inline const CoreAnsx sCtagfontng{"FONTNEG"};
    static inline const CoreAnsx sCtagbackgr{"BACKGROUND"};
    static inline const CoreAnsx sCtagdisplx{"DISPLAYX"};
    static inline const CoreAnsx sCtagdisply{"DISPLAYY"};
    static inline const CoreAnsx sCtagdiaddx{"DISPLAYADDX"};
    static inline const CoreAnsx sCtagdiaddy{"DISPLAYADDY"};
    static inline const CoreAnsx sCtagdisptp{"DISPLAYTOP"};
    static inline const CoreAnsx sCtagdispbt{"DISPLAYBOTTOM"};
    static inline const CoreAnsx sCtagdisplf{"DISPLAYLEFT"};
    static inline const CoreAnsx sCtagdisprg{"DISPLAYRIGHT"};
    static inline const CoreAnsx sCtagdaddtp{"DISPLAYADDTOP"};
    static inline const CoreAnsx sCtagdaddbt{"DISPLAYADDBOTTOM"};
    static inline const CoreAnsx sCtagdaddlf{"DISPLAYADDLEFT"};
    static inline const CoreAnsx sCtagdaddrg{"DISPLAYADDRIGHT"};
    static inline const CoreAnsx sCtagdaddch{"DISPLAYADDCHARS"};
    static inline const CoreAnsx sCtagslidrs{"SLIDERS"};
    static inline const CoreAnsx sCtagmixrt_{"MIX"};
    static inline const CoreAnsx sCtagslgaii{"GAININ"};
    static inline const CoreAnsx sCtagslgaio{"GAINOUT"};
    static inline const CoreAnsx sCtagslminx{"SLIDERMINX"};
    static inline const CoreAnsx sCtagslminy{"SLIDERMINY"};
    static inline const CoreAnsx sCtagslmaxx{"SLIDERMAXX"};
    static inline const CoreAnsx sCtagslmaxy{"SLIDERMAXY"};
    static inline const CoreAnsx sCtagslheig{"SLIDERHEIGHT"};
    static inline const CoreAnsx sCtagslider{"SLIDER"};
    static inline const CoreAnsx sCtagledtop{"LEDTOP"};
    static inline const CoreAnsx sCtagledtpx{"LEDTOPX"};
    static inline const CoreAnsx sCtagledtpy{"LEDTOPY"};
    static inline const CoreAnsx sCtagledbot{"LEDBOTTOM"};
    static inline const CoreAnsx sCtagledbtx{"LEDBOTTOMX"};
    static inline const CoreAnsx sCtagledbty{"LEDBOTTOMY"};
    static inline const CoreAnsx sCtagglobal{"GLOBAL"};
    static inline const CoreAnsx sCtagledovf{"LEDOVERFLOW"};
    static inline const CoreAnsx sCtagledbyp{"LEDBYPASS"};
    static inline const CoreAnsx sCtagledbmp{"LED"};
    static inline const CoreAnsx sCtagledbmx{"LEDX"};
    static inline const CoreAnsx sCtagledbmy{"LEDY"};
    static inline const CoreAnsx sCtagledbdb{"LEDDB"};
    static inline const CoreAnsx sCtagleobmp{"LEDOFF"};
    static inline const CoreAnsx sCtagleobmx{"LEDOFFX"};
    static inline const CoreAnsx sCtagleobmy{"LEDOFFY"};
    static inline const CoreAnsx sCtagledfrm{"FRAMES"};
    static inline const CoreAnsx sCtagmeters{"METERS"};
    static inline const CoreAnsx sCtagmetrt_{"METER"};
    static inline const CoreAnsx sCtagledrt_{"LED"};
    static inline const CoreAnsx sCtagmetrgm{"GROUPMODE"};
    static inline const CoreAnsx sCtagknobm_{"KNOBMODE"};
    static inline const CoreAnsx sCtagpadro_{"PADXY"};
    static inline const CoreAnsx sCtagpadcx_{"CONTROLX"};
    static inline const CoreAnsx sCtagpadcy_{"CONTROLY"};
    static inline const CoreAnsx sCtagpadmap{"MAP"};
    static inline const CoreAnsx sCtagbutton{"BUTTON"};
    static inline const CoreAnsx sCtagbttoff{"BUTTONOFF"};
    static inline const CoreAnsx sCtagbttonx{"BUTTONX"};
    static inline const CoreAnsx sCtagbttony{"BUTTONY"};
    static inline const CoreAnsx sCtagsyncvr{"SYNCVERSION"};

    // Category dictionary
    static inline const CoreAnsx sCtagdictry{"DICTIONARY"};
};
