// Runs a fuzz target over files instead of generated inputs: every file named on the command
// line, and every file below every directory named there, is passed to LLVMFuzzerTestOneInput
// once. Used by the ordinary test builds to replay the seed corpus.

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                files.append(it.next());
        } else {
            files.append(path);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.isEmpty()) {
        std::fprintf(stderr, "no input files\n");
        return 1;
    }

    for (const QString& path : qAsConst(files)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "replaying %s (%d bytes)\n", qPrintable(path), int(bytes.size()));
        LLVMFuzzerTestOneInput(
            reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    }
    std::fprintf(stderr, "%d inputs replayed\n", int(files.size()));
    return 0;
}
