#pragma once

#include <string>
#include <vector>

namespace torvaline {

// How the parts of a set are named, which fixes their order and the way a part is opened.
enum class PackageKind {
    Single,      // one file: name.zip, name.7z, name.rar, name.tar.gz, ...
    RarParts,    // name.part01.rar, name.part02.rar, ...
    RarOldStyle, // name.rar, name.r00, name.r01, ...
    SevenZipCut, // name.7z.001, name.7z.002, ... (the bytes of one archive cut in pieces)
    ZipCut,      // name.zip.001, name.zip.002, ...
    ZipSpanned,  // name.z01, name.z02, ..., name.zip (the zip format's own split)
};

// The parts that belong to one archive: an archive that is one file is a package of one.
struct ArchivePackage {
    std::string name; // the set's name, without the part and archive extensions
    PackageKind kind = PackageKind::Single;
    std::vector<std::string> parts;   // the file names given, in volume order
    std::vector<std::string> missing; // the parts the numbering asks for and nobody gave
};

class PackageGrouping final {
public:
    // The packages among file names (no folders), in the order their first part was given.
    // Files that are no archive belong to no package. A set is complete as far as names can
    // tell when `missing` is empty: the last part of a set is not known from its name alone.
    static std::vector<ArchivePackage> group(const std::vector<std::string>& fileNames);

    // The name of the package that files which came together make (one URL range, one
    // Click'n'Load batch), fit for a folder: the name its sender gave when that is one, else
    // what the files' names share before their numbers ("clip01.mp4", "clip02.mp4": "clip"),
    // else the first file's name without its extension. Empty when none of them will do.
    static std::string batchName(const std::string& given,
                                 const std::vector<std::string>& fileNames);
};

} // namespace torvaline
