#pragma once
// Files far past the bound on whole-file reads, at every name the demo
// installation reads whole, for the tests that check they are refused
// unread and left as they were. Test thread only.

#include <functional>
#include <string>
#include <vector>

#include "tests/support/FileBytes.h"

// An archive of one item, written by hand from the format rather than by the store.
std::string oneItemArchive(std::string const& name, std::string const& bytes);

// The demo installation under top made to read more files whole: the room, which boots, reads
// ROOM.CSV in a RAW section, and the bank ends with an archive of one program, BIG.V2P. Demo and
// Doc are the tools' demo and document writers, named by the caller so that this file needs nothing
// of ours.
template <class Demo, class Doc> void widenDemo(std::string const& top) {
    std::string const data = top + Demo::sCdatapath, programs = data + Demo::sCprograms;
    typename Doc::PROGRAM room = Demo::prgrm(Demo::iCroom);
    room.raws = {typename Doc::VECTOR({"ROOM.CSV"})};
    writeBytes(programs + "ROOM.XML", Doc::prgxm(room));
    writeBytes(data + Demo::sCvectors + "ROOM.CSV", "0.5;0.25;");
    std::vector<std::string> files(Demo::sCprogramfiles, Demo::sCprogramfiles + Demo::iCprograms);
    files.push_back("BIG.V2P");
    writeBytes(data + Demo::sCsetups + Demo::sCsetup, Doc::stpxm(files, Demo::iCroom));
    writeBytes(programs + "BIG.V2P",
               oneItemArchive("BIG.XML", Doc::prgxm(Demo::prgrm(Demo::iCinit))));
}

// Each file the demo installation reads whole, its archive BIG.V2P (a hole after its table of
// contents), then the extra ones, made sparse at 1.5 and 8 GB: hugeRow for each.
void eachHugeFile(std::string const& top, std::vector<std::string> const& extra, long long bound,
                  std::function<void(std::string const&, std::string const&)> const& act);

// One row of that table: file under top made sparse at size; act(file, what its refusal says from
// its name) must read under bound bytes in all (counted for the whole process) within 60 s and
// leave the file as it was; its bytes are put back after. A size the file system refuses is
// skipped.
void hugeRow(std::string const& top, std::string const& file, long long size, long long bound,
             std::function<void(std::string const&, std::string const&)> const& act);

// The bytes this process has read so far (its rchar), -1 when the system does not say.
long long bytesRead();
