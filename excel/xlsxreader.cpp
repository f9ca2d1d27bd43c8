// The xlsx format whole: the package's parts (relationships, the book, shared
// strings, date styles) and the streaming parser of the active sheet.
#include "base/error.h"
#include "excel/boundedxml.h"
#include "excel/celltext.h"
#include "excel/fastxml.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "excel/ziparchive.h"

#include <QHash>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace WorkbookReader {
namespace {

// The parts of an xlsx package that lead to the active sheet.
struct XlsxBook
{
    QString workbookPart;
    QString sheetPart;
    QString sheetName;
    QString sharedStringsPart;
    QString stylesPart;
    bool date1904 = false;
};

QString relsPartOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

struct Relationship
{
    QString type;
    QString target;
};

QHash<QString, Relationship> readRelationships(ZipArchive& archive, const QString& sourcePart)
{
    QHash<QString, Relationship> relationships;
    const QString relsPart = relsPartOf(sourcePart);
    if (!archive.contains(relsPart))
        return relationships;
    const auto device = archive.open(relsPart);
    BoundedXml xml(device.get(), relsPart, &archive);
    while (xml.next()) {
        if (!xml.isStart(u"Relationship"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (attributes.value(QLatin1String("TargetMode")) == u"External")
            continue;
        relationships.insert(
            attributes.value(QLatin1String("Id")).toString(),
            {attributes.value(QLatin1String("Type")).toString(),
             ZipArchive::resolvePart(sourcePart, attributes.value(QLatin1String("Target")).toString())});
    }
    return relationships;
}

QString relationshipOfType(const QHash<QString, Relationship>& relationships, QStringView typeSuffix)
{
    for (const Relationship& relationship : relationships) {
        if (relationship.type.endsWith(typeSuffix))
            return relationship.target;
    }
    return {};
}

bool isTrue(QStringView value)
{
    return value == u"1" || value == u"true";
}

XlsxBook findBook(ZipArchive& archive)
{
    XlsxBook book;
    book.workbookPart = relationshipOfType(readRelationships(archive, QString()), u"/officeDocument");
    if (book.workbookPart.isEmpty())
        book.workbookPart = archive.contains(QStringLiteral("xl/workbook.bin")) ? QStringLiteral("xl/workbook.bin")
                                                                                : QStringLiteral("xl/workbook.xml");
    if (book.workbookPart.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        throw Failure(QStringLiteral("формат не поддерживается (двоичная книга Excel xlsb; сохраните её как xlsx)"));
    struct Sheet
    {
        QString name;
        QString id;
    };
    std::vector<Sheet> sheets;
    int activeTab = -1;
    {
        const auto device = archive.open(book.workbookPart);
        BoundedXml xml(device.get(), book.workbookPart, &archive);
        while (xml.next()) {
            if (!xml.isStart())
                continue;
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == u"sheet") {
                QString id;
                for (const QXmlStreamAttribute& attribute : attributes) {
                    if (attribute.name() == u"id")
                        id = attribute.value().toString();
                }
                if (static_cast<std::int64_t>(sheets.size()) < WorkbookLimits::MaxZipEntries)
                    sheets.push_back({attributes.value(QLatin1String("name")).toString(), id});
            } else if (xml.name() == u"workbookView" && activeTab < 0) {
                activeTab = attributes.hasAttribute(QLatin1String("activeTab"))
                                ? attributes.value(QLatin1String("activeTab")).toInt()
                                : 0;
            } else if (xml.name() == u"workbookPr") {
                book.date1904 = isTrue(attributes.value(QLatin1String("date1904")));
            }
        }
    }
    if (sheets.empty())
        throw Failure(QStringLiteral("в книге нет листов"));
    const Sheet& sheet = sheets[activeTab >= 0 && activeTab < static_cast<int>(sheets.size()) ? activeTab : 0];
    const QHash<QString, Relationship> relationships = readRelationships(archive, book.workbookPart);
    book.sheetName = sheet.name;
    book.sheetPart = relationships.value(sheet.id).target;
    if (book.sheetPart.isEmpty())
        throw Failure(QStringLiteral("файл повреждён (лист «%1» не найден в архиве)").arg(sheet.name));
    book.sharedStringsPart = relationshipOfType(relationships, u"/sharedStrings");
    book.stylesPart = relationshipOfType(relationships, u"/styles");
    return book;
}

// Which cell styles (xf indices) show numbers as dates or times.
std::vector<CellKind> readDateStyles(ZipArchive& archive, const QString& part)
{
    std::vector<CellKind> dateStyles;
    if (part.isEmpty() || !archive.contains(part))
        return dateStyles;
    QHash<int, CellKind> customFormats;
    const auto device = archive.open(part);
    BoundedXml xml(device.get(), part, &archive);
    bool inCellXfs = false;
    while (xml.next()) {
        if (xml.isStart(u"numFmt")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            customFormats.insert(attributes.value(QLatin1String("numFmtId")).toInt(),
                                 formatKind(attributes.value(QLatin1String("formatCode"))));
        } else if (xml.isStart(u"cellXfs")) {
            inCellXfs = true;
        } else if (xml.isEnd(u"cellXfs")) {
            inCellXfs = false;
        } else if (inCellXfs && xml.isStart(u"xf") && dateStyles.size() < 65536) {
            const int id = xml.attributes().value(QLatin1String("numFmtId")).toInt();
            dateStyles.push_back(customFormats.contains(id) ? customFormats.value(id) : builtinFormatKind(id));
        }
    }
    return dateStyles;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Excel writes characters that XML cannot carry (CR, control characters) as
// _xHHHH_, and a "_x" that is just text as _x005F_x...; decoded here.
void decodeEscapes(QString& text, qsizetype from = 0)
{
    qsizetype at = text.indexOf(QLatin1String("_x"), from);
    if (at < 0)
        return;
    QString out = text.left(at);
    while (at < text.size()) {
        int code = -1;
        if (at + 7 <= text.size() && text[at] == u'_' && text[at + 1] == u'x' && text[at + 6] == u'_') {
            code = 0;
            for (int k = 2; k < 6 && code >= 0; ++k) {
                const int digit = hexDigit(text[at + k]);
                code = digit < 0 ? -1 : code * 16 + digit;
            }
        }
        if (code == 0x0D) {
            // A line end stored as CR LF (_x000D_ and a line feed) is one LF, as elsewhere.
            at += 7;
            if (at >= text.size() || text[at] != u'\n')
                out.append(QLatin1Char('\n'));
        } else if (code >= 0) {
            out.append(QChar(static_cast<char16_t>(code)));
            at += 7;
        } else {
            out.append(text[at++]);
        }
    }
    text = out;
}

// The text of the element just opened (a shared string's si, an inline is):
// its t runs, plain or rich, without the phonetic runs (rPh), which are not shown.
void appendRichText(FastXml& xml, QString& text)
{
    const int level = xml.depth();
    while (xml.next() && !(xml.isEnd() && xml.depth() < level)) {
        if (xml.isStart("rPh"))
            xml.skipElement();
        else if (xml.isStart("t"))
            xml.appendElementText(text);
    }
    decodeEscapes(text);
}

// Shared strings go first into the sheet's text pool, so that their index in
// the file is their index in the pool.
void readSharedStrings(ZipArchive& archive, const QString& part, SheetCells& cells)
{
    if (part.isEmpty() || !archive.contains(part))
        return;
    const auto device = archive.open(part);
    FastXml xml(device.get(), part, &archive);
    QString text;
    while (xml.next()) {
        if (!xml.isStart("si"))
            continue;
        text.clear();
        appendRichText(xml, text);
        if (cells.texts().size() >= WorkbookLimits::MaxSharedStrings)
            throw Failure(
                QStringLiteral("книга слишком велика (более %1 строк текста)").arg(WorkbookLimits::MaxSharedStrings));
        cells.texts().add(text);
    }
}

bool parseInteger(QByteArrayView text, std::int64_t& value);

// "AB12" -> column 28, row 12; false for a malformed reference.
bool parseReference(QByteArrayView reference, std::int64_t& row, int& column)
{
    qsizetype i = 0;
    int letters = 0;
    while (i < reference.size() && reference[i] >= 'A' && reference[i] <= 'Z' && i < 4) {
        letters = letters * 26 + (reference[i] - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == reference.size())
        return false;
    column = letters;
    return parseInteger(reference.sliced(i), row) && row >= 1;
}

bool parseInteger(QByteArrayView text, std::int64_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Qt's toDouble() is general (locales, inf, nan) and shows in a profile of a
// large sheet; cell values are plain C-locale numbers.
bool parseNumber(QStringView text, double& value)
{
    text = text.trimmed();
    if (text.startsWith(u'+'))
        text = text.sliced(1);
    char buffer[64];
    if (text.isEmpty() || text.size() > static_cast<qsizetype>(sizeof buffer))
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7F)
            return false;
        buffer[i] = static_cast<char>(c);
    }
    const auto [end, error] = std::from_chars(buffer, buffer + text.size(), value);
    return error == std::errc() && end == buffer + text.size() && std::isfinite(value);
}

bool parseIndex(QStringView text, std::uint32_t& value)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 9)
        return false;
    value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    return true;
}

enum class CellType { Number, Shared, Inline, FormulaText, Boolean, Error, IsoDate };

CellType cellType(QByteArrayView t)
{
    if (t.isEmpty() || FastXml::same(t, "n"))
        return CellType::Number;
    if (FastXml::same(t, "s"))
        return CellType::Shared;
    if (t == "inlineStr")
        return CellType::Inline;
    if (t == "str")
        return CellType::FormulaText;
    if (t == "b")
        return CellType::Boolean;
    if (t == "e")
        return CellType::Error;
    if (t == "d")
        return CellType::IsoDate;
    return CellType::Number;
}

// One <c> element at a time, with the buffers reused between cells.
class SheetParser
{
public:
    SheetParser(FastXml& xml, SheetCells& cells, std::vector<CellKind> dateStyles, std::uint32_t sharedCount)
        : m_xml(xml), m_cells(cells), m_dateStyles(std::move(dateStyles)), m_sharedCount(sharedCount)
    {
    }

    void run()
    {
        while (m_xml.next()) {
            if (m_xml.isStart("row")) {
                const QByteArrayView r = m_xml.attribute("r");
                std::int64_t row = m_row + 1;
                if (!r.isEmpty() && !parseInteger(r, row))
                    m_xml.fail(QStringLiteral("неверный номер строки"));
                m_row = row;
                m_column = 0;
                if (m_row < 1)
                    m_xml.fail(QStringLiteral("неверный номер строки"));
            } else if (m_xml.isStart("c")) {
                cell();
            }
        }
    }

private:
    void cell();
    void store(std::int64_t row, int column, CellType type, int style, bool formula);

    FastXml& m_xml;
    SheetCells& m_cells;
    std::vector<CellKind> m_dateStyles;
    std::uint32_t m_sharedCount;
    std::int64_t m_row = 0;
    int m_column = 0;
    QString m_value;
    QString m_inline;
    bool m_hasValue = false;
};

void SheetParser::cell()
{
    std::int64_t row = m_row;
    int column = m_column + 1;
    const QByteArrayView reference = m_xml.attribute("r");
    if (!reference.isEmpty() && !parseReference(reference, row, column))
        m_xml.fail(QStringLiteral("неверный адрес ячейки %1")
                       .arg(QString::fromUtf8(reference.first(std::min<qsizetype>(20, reference.size())))));
    if (row < 1)
        row = 1;
    m_row = row;
    m_column = column;
    if (row > XlsxRows)
        m_xml.fail(QStringLiteral("строка %1 за пределами листа").arg(row));
    const CellType type = cellType(m_xml.attribute("t"));
    std::int64_t style = 0;
    const QByteArrayView styleText = m_xml.attribute("s");
    if (!styleText.isEmpty() && !parseInteger(styleText, style))
        style = 0;
    m_value.clear();
    m_inline.clear();
    m_hasValue = false;
    bool formula = false;
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.token() != FastXml::Start)
            continue;
        if (m_xml.isName("v")) {
            m_hasValue = true;
            m_xml.appendElementText(m_value);
        } else if (m_xml.isName("f")) {
            formula = true;
            m_xml.skipElement();
        } else if (m_xml.isName("is")) {
            m_hasValue = true;
            appendRichText(m_xml, m_inline);
        } else {
            m_xml.skipElement();
        }
    }
    if (column <= WorkbookLimits::Columns)
        store(row, column, type, static_cast<int>(std::clamp<std::int64_t>(style, -1, 1 << 20)), formula);
}

void SheetParser::store(std::int64_t row, int column, CellType type, int style, bool formula)
{
    const bool textType = type == CellType::Inline || type == CellType::FormulaText;
    if (!m_hasValue || (m_value.isEmpty() && !textType)) {
        // A formula written by a script that computes nothing has no value at all.
        if (formula)
            m_cells.addFormulaWithoutValue(row, column);
        return;
    }
    switch (type) {
    case CellType::Inline:
        m_cells.addText(row, column, m_inline);
        return;
    case CellType::Shared: {
        std::uint32_t index = 0;
        if (!parseIndex(m_value, index) || index >= m_sharedCount)
            m_xml.fail(QStringLiteral("ячейка %1 ссылается на несуществующую строку текста")
                           .arg(CellText::cellName(row, column)));
        m_cells.addTextIndex(row, column, index);
        return;
    }
    case CellType::FormulaText:
        decodeEscapes(m_value);
        m_cells.addText(row, column, m_value);
        return;
    case CellType::Boolean:
        m_cells.addNumber(row, column, QStringView(m_value).trimmed() == u"1" ? 1.0 : 0.0, CellKind::Boolean);
        return;
    case CellType::Error:
        m_cells.addError(row, column, QStringView(m_value).trimmed());
        return;
    case CellType::IsoDate:
        m_cells.addText(row, column, CellText::isoDateTime(m_value));
        return;
    case CellType::Number:
        break;
    }
    double number = 0.0;
    if (!parseNumber(m_value, number))
        m_xml.fail(QStringLiteral("ячейка %1: не число «%2»").arg(CellText::cellName(row, column), m_value.left(40)));
    const bool styled = style >= 0 && static_cast<std::size_t>(style) < m_dateStyles.size();
    m_cells.addNumber(row, column, number, styled ? m_dateStyles[style] : CellKind::Number);
}

} // namespace

SheetCells readXlsx(ZipArchive& archive)
{
    const XlsxBook book = findBook(archive);
    SheetCells cells(XlsxRows);
    cells.setSheetName(book.sheetName);
    cells.setDate1904(book.date1904);
    // Room for what the parts can hold (a cell takes at least 20 bytes of the sheet).
    const std::int64_t sheetBytes = archive.sizeOf(book.sheetPart);
    cells.reserve(sheetBytes / 20,
                  (book.sharedStringsPart.isEmpty() ? 0 : archive.sizeOf(book.sharedStringsPart)) + sheetBytes / 8);
    readSharedStrings(archive, book.sharedStringsPart, cells);
    const std::uint32_t sharedCount = cells.texts().size();
    const auto device = archive.open(book.sheetPart);
    FastXml xml(device.get(), book.sheetPart, &archive);
    SheetParser(xml, cells, readDateStyles(archive, book.stylesPart), sharedCount).run();
    cells.finish();
    return cells;
}

CellKind builtinFormatKind(int id)
{
    if (id == 46)
        return CellKind::Duration; // [h]:mm:ss
    const bool date =
        (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
    return date ? CellKind::DateTime : CellKind::Number;
}

CellKind formatKind(QStringView code)
{
    // Only the first section (positive numbers) decides; literal text, escaped
    // characters, fill/space markers and [colour] tags do not make a date.
    // Elapsed time ([h], [mm], [ss]) keeps its days, whatever else the code shows.
    bool date = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i].toLower();
        if (c == u';')
            break;
        if (c == u'"') {
            const qsizetype close = code.indexOf(u'"', i + 1);
            if (close < 0)
                break;
            i = close;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;
        } else if (c == u'[') {
            const qsizetype close = code.indexOf(u']', i + 1);
            if (close < 0)
                break;
            const QStringView inside = code.mid(i + 1, close - i - 1);
            if (!inside.isEmpty() && !inside.contains(u'$')) {
                const QChar unit = inside[0].toLower();
                bool same = unit == u'h' || unit == u'm' || unit == u's';
                for (const QChar k : inside)
                    same = same && k.toLower() == unit;
                if (same)
                    return CellKind::Duration;
            }
            i = close;
        } else if (c == u'd' || c == u'm' || c == u'y' || c == u'h' || c == u's') {
            date = true;
        }
    }
    return date ? CellKind::DateTime : CellKind::Number;
}

} // namespace WorkbookReader
