#pragma once
// Files far past the bound on whole-file reads, at every name the demo
// installation reads whole, for the tests that check they are refused
// unread and left as they were. Test thread only.

#include <functional>
#include <string>
#include <vector>

#include "tests/support/FileBytes.h"

// The demo installation under top made to read more files whole: the room, which boots, reads
// ROOM.CSV in a RAW section, and the bank ends with an empty archive, BIG.V2P. Demo and Doc are the
// tools' demo and document writers, named by the caller so that this file needs nothing of ours.
template <class Demo, class Doc> void widenDemo(std::string const& top) {
    std::string const data = top + Demo::sCdatapath, programs = data + Demo::sCprograms;
    typename Doc::PROGRAM room = Demo::prgrm(Demo::iCroom);
    room.raws = {typename Doc::VECTOR({"ROOM.CSV"})};
    writeBytes(programs + "ROOM.XML", Doc::prgxm(room));
    writeBytes(data + Demo::sCvectors + "ROOM.CSV", "0.5\n0.25\n");
    std::vector<std::string> files(Demo::sCprogramfiles, Demo::sCprogramfiles + Demo::iCprograms);
    files.push_back("BIG.V2P");
    writeBytes(data + Demo::sCsetups + Demo::sCsetup, Doc::stpxm(files, Demo::iCroom));
    writeBytes(programs + "BIG.V2P", "");
}

// Each file the demo installation reads whole, then the extra ones, made sparse at 1.5 and 8 GB,
// and last its archive BIG.V2P at 8 GB: act(file, what its refusal says from its name) must read
// under bound bytes in all (counted for the whole process) and leave the file as it was; its bytes
// are put back after. A size the file system refuses is skipped.
void eachHugeFile(std::string const& top, std::vector<std::string> const& extra, long long bound,
                  std::function<void(std::string const&, std::string const&)> const& act);

// The bytes this process has read so far (its rchar), -1 when the system does not say.
long long bytesRead();
