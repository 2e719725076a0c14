// The directions of the dependencies, read from the source tree: requests -> windows -> device -> runtime ->
// platform (device/media is part of device); no product file includes a stand-in, a test or a tool; app/,
// the composition root, stands above every layer and may include any of them, but no layer includes app/; the
// stand-ins build on platform/ only. The same arrows hold for the libraries the CMake files link.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString kRoot = QStringLiteral(QUORRIN_SOURCE_DIR);

// Product layers, lowest first; a layer may depend on itself and those below.
const std::map<QString, int> &LayerRanks()
{
    static const std::map<QString, int> ranks = {
        {"platform", 0}, {"runtime", 1}, {"device", 2}, {"windows", 3}, {"requests", 4}, {"app", 5}};
    return ranks;
}

// The top folder of a path relative to the root ("device/media/X.h" -> "device").
QString TopFolder(const QString &strRelative) { return strRelative.section('/', 0, 0); }

bool IsProduct(const QString &strFolder) { return LayerRanks().count(strFolder) != 0; }

// Where an include resolves in the source tree, as the compiler finds it (the including file's folder first,
// then the root), relative to the root; empty for a header outside the tree.
QString Resolve(const QString &strIncluder, const QString &strInclude, bool bQuoted)
{
    const QDir root(kRoot);
    if (bQuoted) {
        const QString strLocal = QFileInfo(strIncluder).absoluteDir().filePath(strInclude);
        if (QFileInfo(strLocal).isFile())
            return root.relativeFilePath(QFileInfo(strLocal).canonicalFilePath());
    }
    const QString strFromRoot = root.filePath(strInclude);
    if (QFileInfo(strFromRoot).isFile())
        return root.relativeFilePath(QFileInfo(strFromRoot).canonicalFilePath());
    return QString();
}

// The wrong arrows of one file's includes.
QStringList WrongIncludes(const QString &strFile)
{
    static const QRegularExpression includeLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    const QString strRelative = QDir(kRoot).relativeFilePath(strFile);
    const QString strFolder = TopFolder(strRelative);
    QStringList wrong;
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly)) {
        wrong << strRelative + ": cannot be read";
        return wrong;
    }
    QTextStream stream(&file);
    int nLine = 0;
    while (!stream.atEnd()) {
        const QString strLine = stream.readLine();
        ++nLine;
        const QRegularExpressionMatch match = includeLine.match(strLine);
        if (!match.hasMatch())
            continue;
        const QString strTarget = Resolve(strFile, match.captured(2), match.captured(1) == "\"");
        if (strTarget.isEmpty())
            continue;
        const QString strTargetFolder = TopFolder(strTarget);
        const QString strWhere = QString("%1:%2 includes %3").arg(strRelative).arg(nLine).arg(strTarget);
        if (strFolder == "standin") {
            if (strTargetFolder != "standin" && strTargetFolder != "platform")
                wrong << strWhere + " (a stand-in builds on platform/ only)";
        } else if (!IsProduct(strTargetFolder)) {
            wrong << strWhere + " (product code includes no " + strTargetFolder + "/)";
        } else if (LayerRanks().at(strTargetFolder) > LayerRanks().at(strFolder)) {
            wrong << strWhere + " (" + strFolder + " lies below " + strTargetFolder + ")";
        }
    }
    return wrong;
}

QStringList SourceFiles(const QString &strFolder)
{
    QStringList files;
    QDirIterator it(kRoot + "/" + strFolder, {"*.h", "*.hpp", "*.cpp", "*.c"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// The layer of a library target of the system; -1 for a stand-in, -2 for anything else.
int LibraryRank(const QString &strTarget)
{
    static const std::map<QString, int> ranks = {
        {"quorrin_platform", 0}, {"quorrin_runtime", 1}, {"quorrin_media", 2}, {"quorrin_device", 2},
        {"quorrin_windows", 3},  {"quorrin_requests", 4}};
    const auto it = ranks.find(strTarget);
    if (it != ranks.end())
        return it->second;
    return strTarget.endsWith("_standin") ? -1 : -2;
}

// The wrong arrows of the target_link_libraries calls in one CMake file.
QStringList WrongLinks(const QString &strFile)
{
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString strText = QString::fromUtf8(file.readAll());
    strText.remove(QRegularExpression("#[^\n]*"));
    static const QRegularExpression call(R"(target_link_libraries\s*\(([^)]*)\))");
    const QString strRelative = QDir(kRoot).relativeFilePath(strFile);
    QStringList wrong;
    QRegularExpressionMatchIterator it = call.globalMatch(strText);
    while (it.hasNext()) {
        QStringList words = it.next().captured(1).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString strTarget = words.takeFirst();
        const int nRank = LibraryRank(strTarget);
        if (nRank == -2)
            continue;
        for (const QString &strLinked : words) {
            const int nLinked = LibraryRank(strLinked);
            const QString strWhere = QString("%1: %2 links %3").arg(strRelative, strTarget, strLinked);
            if (nRank == -1 && nLinked >= 1)
                wrong << strWhere + " (a stand-in builds on platform/ only)";
            else if (nRank >= 0 && nLinked == -1)
                wrong << strWhere + " (a product library links no stand-in)";
            else if (nRank >= 0 && nLinked > nRank)
                wrong << strWhere + " (a library links only those below it)";
        }
    }
    return wrong;
}

} // namespace

TEST(Dependencies, IncludesPointDownTheLayers)
{
    ASSERT_TRUE(QFileInfo(kRoot + "/app/main.cpp").isFile()) << "no source tree at " << kRoot.toStdString();
    QStringList wrong;
    for (const QString strFolder : {"platform", "runtime", "device", "windows", "requests", "app", "standin"}) {
        const QStringList files = SourceFiles(strFolder);
        EXPECT_FALSE(files.isEmpty()) << strFolder.toStdString();
        for (const QString &strFile : files)
            wrong << WrongIncludes(strFile);
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join("\n").toStdString();
}

TEST(Dependencies, LibrariesLinkDownTheLayers)
{
    QStringList wrong;
    int nFiles = 0;
    for (const QString strFolder : {"platform", "runtime", "device", "windows", "requests", "standin"}) {
        QDirIterator it(kRoot + "/" + strFolder, {"CMakeLists.txt"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            wrong << WrongLinks(it.next());
            ++nFiles;
        }
    }
    EXPECT_GE(nFiles, 6) << "the libraries' CMake files were not found";
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join("\n").toStdString();
}
