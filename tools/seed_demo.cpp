// Saves the host "demo" for the local demo server in a start folder, so that the login dialog
// opens on it: kestrel_seed_demo FOLDER HOST PORT. The port changes from run to run, so an
// existing "demo" record is rewritten; a directory the operator arranged is kept as it is.
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "hosts/FolderFile.h"
#include "hosts/HostDirectory.h"
#include "hosts/HostFile.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrel_seed_demo FOLDER HOST PORT\n");
        return 2;
    }
    if (!QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "kestrel_seed_demo: cannot enter %s\n", argv[1]);
        return 1;
    }
    HostEntry demo;
    demo.displayName = QStringLiteral("demo");
    demo.host = QString::fromLocal8Bit(argv[2]);
    demo.port = QString::fromLocal8Bit(argv[3]);
    demo.user = QStringLiteral("postgres");
    demo.database = QStringLiteral("demo");
    if (HostFile::store(HostFile::find(demo.displayName) ? demo.displayName : QString(), demo) !=
        HostFile::Outcome::Written) {
        std::fprintf(stderr, "kestrel_seed_demo: cannot write Host.DAT\n");
        return 1;
    }

    HostDirectory directory;
    HostDirectory::Node& root = directory.createRoot();
    FolderFile::load(directory, root);
    for (const auto& child : root.children())
        if (child->isHost() && child->name() == demo.displayName) return 0;
    directory.insert(root, demo.displayName, HostDirectory::kHostImage);
    if (!FolderFile::save(directory)) {
        std::fprintf(stderr, "kestrel_seed_demo: cannot write FOLDER.DAT\n");
        return 1;
    }
    return 0;
}
