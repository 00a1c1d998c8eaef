#include "hosts/HostEntry.h"

#include <array>
#include <cstring>

#include "workspace/Connection.h"
#include "workspace/TextCodec.h"

namespace {

struct FieldSlot {
    const char16_t* label;  // as the host dialog names the field
    int offset;
    int width;
    QString HostEntry::*member;
};

// In file order, which is not the order of the forms.
const std::array<FieldSlot, 8> kSlots{{
    {u"表示名", 0, 256, &HostEntry::displayName},
    {u"ホスト名", 256, 256, &HostEntry::host},
    {u"ユーザ名", 512, 256, &HostEntry::user},
    {u"パスワード", 768, 128, &HostEntry::password},
    {u"データベース", 896, 128, &HostEntry::database},
    {u"ポート番号", 1024, 9, &HostEntry::port},
    {u"TTY", 1033, 256, &HostEntry::tty},
    {u"オプション", 1289, 256, &HostEntry::options},
}};
constexpr int kInUseOffset = 1545;
// Display name, host, user, password, database and port carry the deletion mark.
constexpr int kMarkedSlots = 6;

QByteArray fieldBytes(const QByteArray& record, const FieldSlot& slot)
{
    const char* start = record.constData() + slot.offset;
    const void* end = std::memchr(start, 0, size_t(slot.width));
    return QByteArray(start, end ? static_cast<const char*>(end) - start : slot.width);
}

}  // namespace

std::optional<QString> FieldFitProblem(const QString& field, const QString& value, int maxBytes)
{
    QString bad;
    const std::optional<QByteArray> bytes = Cp932::encode(value, &bad);
    if (!bytes) {
        return QStringLiteral("「%1」の文字「%2」は保存できません（CP932にない文字です）。")
            .arg(field, bad);
    }
    if (bytes->size() > maxBytes) {
        return QStringLiteral(
                   "「%1」が長すぎます。%2バイト（全角文字は2バイト）以内で入力してください。")
            .arg(field)
            .arg(maxBytes);
    }
    return std::nullopt;
}

std::optional<QString> HostEntry::fitProblem() const
{
    // Checked in the order the host dialog shows its fields, so the first complaint is about
    // the topmost field.
    for (int i : {0, 2, 3, 1, 4, 5, 7, 6}) {
        const FieldSlot& s = kSlots[size_t(i)];
        // The terminator must fit inside the field.
        if (auto problem =
                FieldFitProblem(QString::fromUtf16(s.label), this->*s.member, s.width - 1))
            return problem;
    }
    return std::nullopt;
}

std::optional<QByteArray> HostEntry::toRecord() const
{
    if (fitProblem()) return std::nullopt;
    QByteArray record(kRecordSize, '\0');
    for (const FieldSlot& s : kSlots) {
        const QByteArray bytes = *Cp932::encode(this->*s.member);
        std::memcpy(record.data() + s.offset, bytes.constData(), size_t(bytes.size()));
    }
    record[kInUseOffset] = '1';
    return record;
}

HostEntry HostEntry::fromRecord(const QByteArray& record)
{
    HostEntry e;
    for (const FieldSlot& s : kSlots) e.*s.member = Cp932::decodeKept(fieldBytes(record, s));
    return e;
}

QByteArray HostEntry::storedName(const QByteArray& record)
{
    return fieldBytes(record, kSlots[0]);
}

void HostEntry::markDeleted(QByteArray& record)
{
    for (int i = 0; i < kMarkedSlots; ++i) {
        const FieldSlot& s = kSlots[size_t(i)];
        // Zeros after the mark: a deleted password does not linger in the file.
        std::memset(record.data() + s.offset, 0, size_t(s.width));
        record[s.offset] = '*';
    }
}

bool HostEntry::reaches(const LoginParameters& p) const
{
    return host == p.hostName && port == p.port && database == p.databaseName && user == p.userName
        && options == p.options && tty == p.tty;
}

HostEntry HostEntry::fromLogin(const LoginParameters& p)
{
    return {QString(), p.hostName, p.userName, p.password, p.databaseName, p.port, p.tty, p.options};
}
