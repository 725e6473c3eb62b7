#include "storage/DataXml_.h"

// The texts live in the header (inline statics, constructed before any
// static initialiser of a file that includes it). They are part of the file
// formats: changing one breaks every saved file.
