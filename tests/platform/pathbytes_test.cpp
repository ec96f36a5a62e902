#include "pathbytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace kes;

namespace
{

const QByteArray kSjisName("\x8B\xC8\x96\xBC.mp3"); // 曲名.mp3 in Shift-JIS
const QByteArray kLatin1Name("caf\xE9.mp3"); // café.mp3 in Latin-1

} // namespace

TEST(PathBytes, AnyBytesRoundTripAndShownNamesDecodeEachPart)
{
    // Valid UTF-8, the two legacy encodings, bytes that look like an escape's own UTF-8
    // form (ED B2 80), truncated and overlong sequences, and random bytes.
    QList<QByteArray> cases { "/music/曲.mp3", kSjisName, kLatin1Name, "\xED\xB2\x80", "a\xE6\x9B", "\xC0\xAF",
        "\xF4\x90\x80\x80", "\xF0\x9F\x8E\xB5 ok" };
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        QByteArray b;
        for (int k = 0; k < 12; ++k)
            b.append(static_cast<char>(rng() % 255 + 1));
        cases.append(b);
    }
    for (const QByteArray &b : cases)
        EXPECT_EQ(pathToBytes(pathFromBytes(b)), b) << b.toHex().constData();

    // Valid UTF-8 is the plain text, with nothing escaped; distinct names stay distinct.
    EXPECT_EQ(pathFromBytes("/music/曲.mp3"), QStringLiteral("/music/曲.mp3"));
    EXPECT_FALSE(hasEscapedBytes(pathFromBytes("/music/曲.mp3")));
    EXPECT_TRUE(hasEscapedBytes(pathFromBytes(kSjisName)));
    EXPECT_NE(pathFromBytes("caf\xC3\xA9"), pathFromBytes("caf\xE9"));
    // Shown names decode each part as file text.
    const QString path = pathFromBytes("/音楽/" + kSjisName);
    EXPECT_EQ(displayPath(path), QStringLiteral("/音楽/曲名.mp3"));
    EXPECT_EQ(displayPath(pathFromBytes("/a/" + kLatin1Name)), QStringLiteral("/a/café.mp3"));
    EXPECT_EQ(displayPath(QStringLiteral("/plain/曲.mp3")), QStringLiteral("/plain/曲.mp3"));
}

TEST(PathBytes, FileUrlsCarryBytes)
{
    const QString path = pathFromBytes("/m/" + kSjisName + " #1%.mp3");
    const QByteArray url = fileUrlOfPath(path);
    EXPECT_TRUE(url.startsWith("file:///m/%8B%C8"));
    EXPECT_EQ(pathFromFileUrl(QByteArrayView(url)), path);
    // As a file manager's drop hands it over, through QUrl.
    EXPECT_EQ(pathFromFileUrl(QUrl::fromEncoded(url)), path);
    EXPECT_EQ(pathFromFileUrl(QByteArrayView("file://localhost/x/%E6%9B%B2.mp3")), QStringLiteral("/x/曲.mp3"));
    EXPECT_EQ(pathFromFileUrl(QByteArrayView("file:/x/a%20b.mp3")), QStringLiteral("/x/a b.mp3"));
    EXPECT_EQ(pathFromFileUrl(QByteArrayView("http://host/a.mp3")), QString());
    EXPECT_EQ(pathFromFileUrl(QByteArrayView("file://otherhost/a.mp3")), QString());
}

TEST(BoundedFile, RefusesWhatIsNoRegularFile)
{
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path()) + '/';
    const QByteArray fifo = base + kSjisName + ".m3u";
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    BoundedFile f;
    EXPECT_EQ(f.open(pathFromBytes(fifo), 1024, std::chrono::seconds(5)), BoundedFile::Status::NotRegular);
    EXPECT_EQ(f.open(pathFromBytes(base), 1024, std::chrono::seconds(5)), BoundedFile::Status::NotRegular);
    EXPECT_EQ(f.open(QStringLiteral("/dev/zero"), 1024, std::chrono::seconds(5)), BoundedFile::Status::NotRegular);
    EXPECT_EQ(f.open(pathFromBytes(base + "none"), 1024, std::chrono::seconds(5)), BoundedFile::Status::Missing);
    EXPECT_EQ(fileTypeOf(pathFromBytes(fifo)), FileType::Other);
    EXPECT_EQ(fileTypeOf(pathFromBytes(base)), FileType::Folder);
}

TEST(BoundedFile, StopsAtItsByteLimit)
{
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + '/' + kLatin1Name;
    // A sparse file of 2 GiB: reading it whole would cost 2 GiB.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, qint64(2) << 30), 0);
    ::close(fd);
    BoundedFile f;
    ASSERT_EQ(f.open(pathFromBytes(name), 1 << 20, std::chrono::seconds(5)), BoundedFile::Status::Ok);
    EXPECT_EQ(f.size(), qint64(2) << 30);
    QByteArray bytes;
    EXPECT_FALSE(f.readAll(bytes));
    EXPECT_EQ(f.status(), BoundedFile::Status::TooBig);
    EXPECT_LE(bytes.size(), (1 << 20) + 64 * 1024);

    // A file exactly at the limit reads whole.
    const QByteArray small = QFile::encodeName(dir.path()) + "/small";
    const int fd2 = ::open(small.constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::write(fd2, "0123456789", 10), 10);
    ::close(fd2);
    ASSERT_EQ(f.open(pathFromBytes(small), 10, std::chrono::seconds(5)), BoundedFile::Status::Ok);
    bytes.clear();
    EXPECT_TRUE(f.readAll(bytes));
    EXPECT_EQ(bytes, "0123456789");
}
