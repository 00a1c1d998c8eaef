#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "hosts/HostDirectory.h"

// One item line of FOLDER.DAT: a folder or a host placed below the item numbered `parent`.
struct FolderEntry {
    int parent = 0;
    int image = HostDirectory::kFolderImage;
    QString name;
    int itemData = -1;
};

// FOLDER.DAT: the tree of the host directory, opened by bare name in the working directory.
// A text file in CP932: the number of item lines, then one "parent image name itemdata" line
// per item in pre-order. The root is number 0; every item whose item data is -1 is numbered
// in line order from 1, so a parent number always refers to an earlier line.
namespace FolderFile {

inline const QString kFileName = QStringLiteral("FOLDER.DAT");

// A name is read back as one blank-delimited word and is kept to this many bytes.
constexpr int kNameBytes = 19;

// Inserts the file's items below `root`. A missing file leaves the tree alone; reading stops
// at the first item line that does not parse, keeping what came before it.
void load(HostDirectory& directory, HostDirectory::Node& root);
// The same with items already parsed from the file's contents.
void insertItems(HostDirectory& directory, HostDirectory::Node& root,
                 const std::vector<FolderEntry>& items);

// Rewrites the file from the whole tree below the root (CR LF line ends). False when it could
// not be written; the earlier file then stays as it was.
bool save(const HostDirectory& directory);

// The file's contents for a tree (nothing when a name cannot be written in CP932), and the
// items that contents hold.
std::optional<QByteArray> format(const HostDirectory& directory);
std::vector<FolderEntry> parse(const QByteArray& contents);

// Why `name` cannot be a folder or host name of the file (empty, holding a blank or a character
// CP932 cannot hold, longer than kNameBytes), naming the field; nothing when it can.
std::optional<QString> nameProblem(const QString& field, const QString& name);

}  // namespace FolderFile
