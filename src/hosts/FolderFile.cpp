#include "hosts/FolderFile.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>

#include "hosts/HostEntry.h"
#include "workspace/TextCodec.h"

namespace FolderFile {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The blank-delimited words of the file, as the reader of the format sees them.
QList<QByteArray> words(const QByteArray& contents)
{
    QList<QByteArray> out;
    qsizetype i = 0;
    while (i < contents.size()) {
        while (i < contents.size() && isBlank(contents[i])) ++i;
        const qsizetype start = i;
        while (i < contents.size() && !isBlank(contents[i])) ++i;
        if (i > start) out << contents.mid(start, i - start);
    }
    return out;
}

std::optional<int> number(const QByteArray& word)
{
    bool ok = false;
    const int n = word.toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// The name's CP932 bytes, kept to kNameBytes without splitting a double-byte character.
std::optional<QByteArray> storedName(QString name)
{
    for (;;) {
        std::optional<QByteArray> bytes = Cp932::encode(name);
        if (!bytes || bytes->size() <= kNameBytes) return bytes;
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    }
}

// Writes the lines for the children of `node`, whose number is `number`. `counter` is the
// highest number given out so far; it is 16 bits wide, as the reader's numbering is.
bool writeChildren(const HostDirectory::Node& node, quint16 number, quint16& counter,
                   QByteArray& lines, int& count)
{
    for (const auto& child : node.children()) {
        const std::optional<QByteArray> name = storedName(child->name());
        if (!name) return false;
        lines += QByteArray::number(number) + ' ' + QByteArray::number(child->image()) + ' ' +
                 *name + ' ' + QByteArray::number(child->itemData()) + "\r\n";
        ++count;
        if (child->itemData() == -1) {
            const quint16 own = ++counter;
            if (!writeChildren(*child, own, counter, lines, count)) return false;
        }
    }
    return true;
}

}  // namespace

std::optional<QByteArray> format(const HostDirectory& directory)
{
    QByteArray lines;
    int count = 0;
    quint16 counter = 0;
    if (directory.root() && !writeChildren(*directory.root(), 0, counter, lines, count))
        return std::nullopt;
    return QByteArray::number(count) + "\r\n" + lines;
}

std::vector<FolderEntry> parse(const QByteArray& contents)
{
    const QList<QByteArray> w = words(contents);
    std::vector<FolderEntry> items;
    const std::optional<int> count = w.isEmpty() ? std::nullopt : number(w[0]);
    if (!count) return items;
    for (int i = 0; i < *count; ++i) {
        const qsizetype at = 1 + qsizetype(i) * 4;
        if (at + 4 > w.size()) break;
        const std::optional<int> parent = number(w[at]), image = number(w[at + 1]),
                                 itemData = number(w[at + 3]);
        if (!parent || !image || !itemData || *image < 0 || *image > 3) break;
        FolderEntry e;
        e.parent = *parent;
        e.image = *image < HostDirectory::kHostImage ? HostDirectory::kFolderImage
                                                     : HostDirectory::kHostImage;
        e.name = Cp932::decodeKept(w[at + 2]);
        e.itemData = *itemData;
        items.push_back(e);
    }
    return items;
}

void load(HostDirectory& directory, HostDirectory::Node& root)
{
    QFile file(kFileName);
    if (!file.open(QIODevice::ReadOnly)) return;
    const std::vector<FolderEntry> items = parse(file.readAll());
    file.close();
    insertItems(directory, root, items);
}

void insertItems(HostDirectory& directory, HostDirectory::Node& root,
                 const std::vector<FolderEntry>& items)
{
    QHash<quint16, HostDirectory::Node*> numbered{{0, &root}};
    quint16 next = 1;
    for (const FolderEntry& e : items) {
        // A parent no earlier line defined: the item goes under the root rather than vanish.
        HostDirectory::Node* parent = numbered.value(quint16(e.parent), &root);
        const bool folder = e.image == HostDirectory::kFolderImage;
        HostDirectory::Node& node =
            directory.insert(*parent, e.name, e.image, folder ? e.itemData : -1);
        if (e.itemData == -1) numbered.insert(next++, &node);
    }
}

bool save(const HostDirectory& directory)
{
    const std::optional<QByteArray> contents = format(directory);
    if (!contents) return false;
    QSaveFile file(kFileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(*contents);
    return file.commit();
}

std::optional<QString> nameProblem(const QString& field, const QString& name)
{
    if (name.isEmpty()) return QStringLiteral("「%1」を入力してください。").arg(field);
    for (QChar c : name) {
        if (c.unicode() < 0x80 && isBlank(char(c.unicode())))
            return QStringLiteral("「%1」に空白は使えません。").arg(field);
    }
    return FieldFitProblem(field, name, kNameBytes);
}

}  // namespace FolderFile
