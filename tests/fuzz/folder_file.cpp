// FOLDER.DAT: parsed and placed in a tree as the login dialog loads it. A tree that can be
// written again keeps every item and, once written, reads back as the same tree.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "hosts/FolderFile.h"
#include "hosts/HostDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<FolderEntry> items = FolderFile::parse(file);
    HostDirectory directory;
    FolderFile::insertItems(directory, directory.createRoot(), items);
    FUZZ_CHECK(directory.countBelowRoot() == int(items.size()));

    const std::optional<QByteArray> written = FolderFile::format(directory);
    if (!written) return 0;
    HostDirectory again;
    FolderFile::insertItems(again, again.createRoot(), FolderFile::parse(*written));
    FUZZ_CHECK(again.countBelowRoot() == directory.countBelowRoot());
    // Names longer than kNameBytes are cut when written, which can reorder siblings once (their
    // order comes from the whole names); from then on the tree reads back as itself.
    const std::optional<QByteArray> rewritten = FolderFile::format(again);
    FUZZ_CHECK(rewritten.has_value());
    HostDirectory third;
    FolderFile::insertItems(third, third.createRoot(), FolderFile::parse(*rewritten));
    FUZZ_CHECK(FolderFile::format(third) == rewritten);
    return 0;
}
