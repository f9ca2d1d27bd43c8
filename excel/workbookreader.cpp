#include "excel/workbookreader.h"

#include "base/error.h"
#include "excel/compoundfile.h"
#include "excel/workbooklimits.h"
#include "excel/ziparchive.h"

#include <QFile>
#include <QFileInfo>

namespace WorkbookReader {
namespace {

bool isZip(const QByteArray& head)
{
    return head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06");
}

SheetCells readZip(ZipArchive& archive)
{
    if (archive.contains(QStringLiteral("content.xml")) && !archive.contains(QStringLiteral("[Content_Types].xml")))
        return readOds(archive);
    if (archive.contains(QStringLiteral("[Content_Types].xml")))
        return readXlsx(archive);
    if (archive.contains(QStringLiteral("META-INF/manifest.xml")) || archive.contains(QStringLiteral("mimetype")))
        throw Failure(QStringLiteral("формат не поддерживается (документ OpenDocument без таблицы)"));
    throw Failure(QStringLiteral("формат не поддерживается (zip-архив без книги)"));
}

QByteArray readWhole(QFile& file)
{
    if (file.size() > WorkbookLimits::MaxFileBytes)
        throw Failure(
            QStringLiteral("книга слишком велика (более %1 МБ)").arg(WorkbookLimits::MaxFileBytes / (1024 * 1024)));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("файл не читается (%1)").arg(file.errorString()));
    return bytes;
}

} // namespace

SheetCells readFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw Failure(QStringLiteral("файл не найден"));
    if (!info.isFile())
        throw Failure(QStringLiteral("это не файл"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("файл не читается (%1)").arg(file.errorString()));
    const QByteArray head = file.peek(8);
    if (head.isEmpty())
        throw Failure(QStringLiteral("файл пуст"));
    if (isZip(head)) {
        file.close();
        ZipArchive archive(path);
        return readZip(archive);
    }
    if (CompoundFile::hasSignature(head)) {
        if (file.size() > WorkbookLimits::MaxXlsBytes)
            throw Failure(
                QStringLiteral("книга слишком велика (более %1 МБ)").arg(WorkbookLimits::MaxXlsBytes / (1024 * 1024)));
        return readXls(readWhole(file));
    }
    // A BOF record at the start: an Excel 2.x-4.0 worksheet, or a workbook
    // stream saved outside its compound file.
    if (head.size() >= 4 && head[0] == '\x09' &&
        (head[1] == '\x00' || head[1] == '\x02' || head[1] == '\x04' || head[1] == '\x08'))
        throw Failure(QStringLiteral("формат не поддерживается (книга Excel 2.x–4.0)"));
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt") || suffix == QLatin1String("tsv"))
        return readCsv(file);
    if (suffix == QLatin1String("xlsx") || suffix == QLatin1String("xlsm") || suffix == QLatin1String("ods") ||
        suffix == QLatin1String("xls"))
        throw Failure(QStringLiteral("файл повреждён (содержимое не похоже на книгу %1)").arg(suffix));
    throw Failure(QStringLiteral("формат не поддерживается (программа читает xlsx, xlsm, ods, xls и csv)"));
}

} // namespace WorkbookReader
