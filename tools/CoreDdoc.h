#pragma once
// CoreDdoc: the texts of the data documents an installation holds, built from
// plain records: program documents (root "PROGRAM" with its kernel and raw
// slots), the vector trees inside them, bank setups ("SETUP") and master
// settings ("MASTER"). The demo-data generator writes its installation with
// them and the tests' data kit builds its documents with them, so both speak
// one format; what the readers accept stays the judge of it.
// Owner: nobody; static members and plain records only. Threads: any thread.

#include <string>
#include <utility>
#include <vector>

class CoreDdoc {
public:
    CoreDdoc() = delete;

    // Ordered element name and value text pairs (a value of "0" reads as
    // absent); a value may itself be XML, for sections such as "OT2".
    using VALUES = std::vector<std::pair<std::string, std::string>>;

    // One VECTOR: impulse or value files as its elements, or nested vectors.
    struct VECTOR {
        VECTOR(std::vector<std::string> files = {}) : files(std::move(files)) {}

        std::vector<std::string> files; // ELEMENT FILENAMEs (relative to the vector folder)
        std::vector<double> weights;    // ELEMENT WEIGHTs; 0, 1/(n-1), ... when left empty
        std::vector<VECTOR> children;   // nested VECTOR elements, after the files
        double minValue = 0.0;          // COMMON MINVALUE
        double maxValue = 1.0;          // COMMON MAXVALUE
        std::string source;             // CONTROL SOURCE of a nested vector ("" none)
        VALUES control;                 // further CONTROL values of a nested vector
        VALUES common;                  // further COMMON values (OFFSET, FADEIN, OT2 ...)
    };

    // One program document.
    struct PROGRAM {
        PROGRAM(std::string name = "", std::string category = "", VALUES values = {})
            : name(std::move(name)), category(std::move(category)), values(std::move(values)) {}

        std::string name;          // NAME
        std::string category;      // CATEGORY ("" none)
        VALUES values;             // global elements in order (GAININ, HDIM, ...)
        std::vector<VECTOR> slots; // H1, H2, ... each an ELEMENT holding one VECTOR
        std::vector<VECTOR> raws;  // RAW1, RAW2, ... the same
        std::string sections;      // verbatim XML put inside PROGRAM (modulator sections)
    };

    static inline char const* const sCheader = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n";

    static std::string elmnt(std::string const& tag,
                             std::string const& value); // "<tag>value</tag>"
    static std::string elmts(VALUES const& values);     // the elements of values, in order
    static std::string numbr(double value);             // "%.10G"

    static std::string vctxm(VECTOR const& vector);   // "<VECTOR>...</VECTOR>"
    static std::string prgxm(PROGRAM const& program); // a whole program document
    // A whole bank setup: the program files in order as SEQUENCE 0, 1, ...;
    // the entry numbered load carries LOAD (none when load is out of range).
    static std::string stpxm(std::vector<std::string> const& files, int load);
    static std::string mstxm(VALUES const& values); // a whole master settings document
};
