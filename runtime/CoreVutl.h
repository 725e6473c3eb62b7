#pragma once
// CoreVutl: static raw-memory and path helpers on the process heap (never the
// tracked pool): reallocation with retries, 16-byte aligned blocks and the
// path splitter. No instances, no state but a test hook.
// Threads: any thread except the audio path (these allocate).

class CoreVutl {
public:
    CoreVutl() = delete;

    // realloc with up to 10 attempts in a row. size 0 frees block and returns
    // null; a negative size or ten failures return null with block untouched.
    static void* reall(void* block, int size);
    // n bytes at a 16-byte aligned address; the full raw pointer sits in the
    // 8 bytes just below it. Null on failure or for a negative n.
    static void* mllc8(int n);
    // Frees a block from mllc8; null is ignored.
    static void free8(void* p);
    // The next 16-byte boundary strictly above p.
    static void* getmp(void* p);
    // Splits path into drive ("C:"), folder (with its trailing separator),
    // name and extension (from the last "." after the drive, separators
    // included). Each output must hold strlen(path) + 1 bytes; a null output
    // is skipped, a null path gives four empty texts.
    static void fnspl(char const* path, char* drive, char* folder, char* name, char* extension);
    // Version resource query: the platform keeps none, so version is set to 0.
    static void getvi(char const* name, int a, int b, unsigned long* version, int c, int d, int e,
                      int f);
    static int idmmy();    // placeholder, returns 0
    static double ddmmy(); // placeholder, returns 0.0
    static void pdmmy();   // placeholder, does nothing

    // Test hook: the next n realloc attempts made by reall fail.
    static void failNextReallocs(int n);
};
