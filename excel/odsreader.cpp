#include "base/error.h"
#include "excel/boundedxml.h"
#include "excel/celltext.h"
#include "excel/fastxml.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "excel/ziparchive.h"

#include <QHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace WorkbookReader {
namespace {

const QString ConfigNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:config:1.0");
const QString StyleNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:style:1.0");
const QString NumberNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0");

QStringView attributeValue(const QXmlStreamAttributes& attributes, const QString& ns, QStringView name)
{
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.name() == name && attribute.namespaceUri() == ns)
            return attribute.value();
    }
    return {};
}

bool hasAttribute(const QXmlStreamAttributes& attributes, const QString& ns, QStringView name)
{
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.name() == name && attribute.namespaceUri() == ns)
            return true;
    }
    return false;
}

// The sheet that was active when the file was saved, by name; empty when the file does not say.
QString readActiveTable(ZipArchive& archive)
{
    const QString part = QStringLiteral("settings.xml");
    if (!archive.contains(part))
        return {};
    const auto device = archive.open(part);
    BoundedXml xml(device.get(), part, &archive);
    while (xml.next()) {
        if (xml.isStart(u"config-item") && attributeValue(xml.attributes(), ConfigNs, u"name") == u"ActiveTable") {
            QString name;
            xml.appendElementText(name);
            return name;
        }
    }
    return {};
}

// An ods time value is a count of hours; only its number style says whether
// it shows elapsed time ([HH]:MM:SS, truncate-on-overflow false) or a time of
// day, which from one day on is a date and time like any other.
struct TimeStyles
{
    QSet<QString> elapsed;             // data styles that keep the whole hours
    QHash<QString, QString> dataStyle; // cell style -> data style
    bool isElapsed(QStringView cellStyle) const { return elapsed.contains(dataStyle.value(cellStyle.toString())); }
};

// Reads the styles of the element just opened (office:styles or office:automatic-styles).
void readTimeStyles(BoundedXml& xml, TimeStyles& styles)
{
    const int level = xml.depth();
    while (xml.next() && !(xml.isEnd() && xml.depth() < level)) {
        if (xml.isStart(u"time-style")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (attributeValue(attributes, NumberNs, u"truncate-on-overflow") == u"false")
                styles.elapsed.insert(attributeValue(attributes, StyleNs, u"name").toString());
            xml.skipElement();
        } else if (xml.isStart(u"style")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            const QStringView data = attributeValue(attributes, StyleNs, u"data-style-name");
            if (!data.isEmpty() && styles.dataStyle.size() < 65536)
                styles.dataStyle.insert(attributeValue(attributes, StyleNs, u"name").toString(), data.toString());
            xml.skipElement();
        }
    }
}

TimeStyles readCommonTimeStyles(ZipArchive& archive)
{
    TimeStyles styles;
    const QString part = QStringLiteral("styles.xml");
    if (!archive.contains(part))
        return styles;
    const auto device = archive.open(part);
    BoundedXml xml(device.get(), part, &archive);
    while (xml.next()) {
        if (xml.isStart(u"styles") || xml.isStart(u"automatic-styles"))
            readTimeStyles(xml, styles);
    }
    return styles;
}

// "PT13H45M10.5S" as a fraction of a day.
double durationDays(QStringView text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^-?P(?:(\\d+)D)?T?(?:(\\d+)H)?(?:(\\d+)M)?(?:([\\d.]+)S)?$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return 0.0;
    const double seconds = match.capturedView(1).toDouble() * 86400 + match.capturedView(2).toDouble() * 3600 +
                           match.capturedView(3).toDouble() * 60 + match.capturedView(4).toDouble();
    return (text.startsWith(u'-') ? -seconds : seconds) / 86400.0;
}

// LibreOffice stores a logical formula result (=TRUE(), =A1>0) as the number 1
// or 0; only the text it shows, in the saving locale, says it is a truth value.
bool looksBoolean(double number, const QString& shown)
{
    if (number != 0.0 && number != 1.0)
        return false;
    const QString upper = shown.toUpper();
    if (number == 1.0)
        return upper == QLatin1String("TRUE") || upper == QStringLiteral("ИСТИНА");
    return upper == QLatin1String("FALSE") || upper == QStringLiteral("ЛОЖЬ");
}

// One cell of a row, before the row's repeat count multiplies it.
struct PendingCell
{
    int column;
    int repeat;
    CellKind kind;
    double number;
    QString text;
};

// A cell's text may not outgrow what the whole sheet may hold; checked before it grows.
void checkGrowth(const QString& text, std::int64_t more)
{
    if (text.size() + more > WorkbookLimits::MaxTextChars)
        throw Failure(
            QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
}

std::int64_t integer(QByteArrayView text, std::int64_t fallback)
{
    std::int64_t value = fallback;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() ? value : fallback;
}

double decimal(QByteArrayView text)
{
    double value = 0.0;
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '+'))
        text = text.sliced(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && std::isfinite(value) ? value : 0.0;
}

std::int64_t repeatCount(QByteArrayView value)
{
    return value.isEmpty() ? 1 : std::clamp<std::int64_t>(integer(value, 1), 1, 1LL << 31);
}

// The sheet (content.xml) through FastXml: it can run to gigabytes, which
// QXmlStreamReader reads at a tenth of the speed and would hold a run of
// character data whole. Names are matched as LibreOffice and every other
// writer spell them (office:, table:, text:, calcext:, style:, number:).
class ContentParser
{
public:
    ContentParser(FastXml& xml, SheetCells& cells, TimeStyles styles)
        : m_xml(xml), m_cells(cells), m_styles(std::move(styles))
    {
    }

    // Reads the table whose name is wanted, or the first one; false when there is none.
    bool run(const QString& wanted);

private:
    void automaticStyles();
    void table();
    void row();
    void cell(std::vector<PendingCell>& pending, int& column);
    QString paragraphs();
    void spans(QString& text);
    void emit(const std::vector<PendingCell>& pending, std::int64_t repeat);

    FastXml& m_xml;
    SheetCells& m_cells;
    TimeStyles m_styles;
    std::int64_t m_row = 0;
};

bool ContentParser::run(const QString& wanted)
{
    bool inSpreadsheet = false;
    while (m_xml.next()) {
        if (m_xml.isStart("automatic-styles")) {
            automaticStyles();
        } else if (m_xml.isStart("spreadsheet")) {
            inSpreadsheet = true;
        } else if (inSpreadsheet && m_xml.isStart("table")) {
            const QString name = m_xml.decoded(m_xml.qualifiedAttribute("table:name"));
            if (!wanted.isEmpty() && name != wanted) {
                m_xml.skipElement();
                continue;
            }
            m_cells.setSheetName(name);
            table();
            return true;
        }
    }
    return false;
}

void ContentParser::automaticStyles()
{
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart("time-style")) {
            if (m_xml.qualifiedAttribute("number:truncate-on-overflow") == "false")
                m_styles.elapsed.insert(m_xml.decoded(m_xml.qualifiedAttribute("style:name")));
            m_xml.skipElement();
        } else if (m_xml.isStart("style")) {
            const QByteArrayView data = m_xml.qualifiedAttribute("style:data-style-name");
            if (!data.isEmpty() && m_styles.dataStyle.size() < 65536)
                m_styles.dataStyle.insert(m_xml.decoded(m_xml.qualifiedAttribute("style:name")), m_xml.decoded(data));
            m_xml.skipElement();
        }
    }
}

void ContentParser::table()
{
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart("table-row"))
            row();
        else if (m_xml.isStart("table-column") || m_xml.isStart("shapes") || m_xml.isStart("named-expressions"))
            m_xml.skipElement();
    }
}

void ContentParser::row()
{
    const std::int64_t repeat = repeatCount(m_xml.qualifiedAttribute("table:number-rows-repeated"));
    std::vector<PendingCell> pending;
    int column = 1;
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart("table-cell") || m_xml.isStart("covered-table-cell"))
            cell(pending, column);
    }
    emit(pending, repeat);
    m_row += repeat;
}

void ContentParser::cell(std::vector<PendingCell>& pending, int& column)
{
    // The attributes are views into the parser's buffer: taken before the cell's content is read.
    QByteArrayView repeated, type, calcextType, number, booleanValue, date, time, style, string;
    m_xml.forEachAttribute([&](QByteArrayView name, QByteArrayView value) {
        if (name == "table:number-columns-repeated")
            repeated = value;
        else if (name == "office:value-type")
            type = value;
        else if (name == "calcext:value-type")
            calcextType = value;
        else if (name == "office:value")
            number = value;
        else if (name == "office:boolean-value")
            booleanValue = value;
        else if (name == "office:date-value")
            date = value;
        else if (name == "office:time-value")
            time = value;
        else if (name == "table:style-name")
            style = value;
        else if (name == "office:string-value")
            string = value;
    });
    const std::int64_t repeat = repeatCount(repeated);
    const bool error = calcextType == "error";
    PendingCell value{column, 0, CellKind::Text, 0.0, QString()};
    bool plain = false; // the cell's text is its value
    if (type == "float" || type == "percentage" || type == "currency") {
        value.kind = CellKind::Number;
        value.number = decimal(number);
    } else if (type == "boolean") {
        value.kind = CellKind::Boolean;
        value.number = booleanValue == "true" ? 1.0 : 0.0;
    } else if (type == "date") {
        value.text = CellText::isoDateTime(QString::fromLatin1(date));
    } else if (type == "time") {
        value.number = durationDays(QString::fromLatin1(time));
        const bool elapsed = m_styles.isElapsed(m_xml.decoded(style));
        value.kind = elapsed || value.number < 0 ? CellKind::Duration : CellKind::DateTime;
    } else if (string.data()) {
        value.text = m_xml.decoded(string);
    } else {
        plain = true;
    }
    const QString text = paragraphs(); // consumes the cell
    const int first = column;
    column = static_cast<int>(std::min<std::int64_t>(column + repeat, WorkbookLimits::Columns + 1));
    if (first > WorkbookLimits::Columns)
        return;
    value.repeat = column - first;
    if (error) {
        value.kind = CellKind::Error;
        value.text = text;
    } else if (value.kind == CellKind::Number) {
        if (looksBoolean(value.number, text))
            value.kind = CellKind::Boolean;
    } else if (plain) {
        if (text.isEmpty())
            return;
        value.text = text;
    }
    pending.push_back(std::move(value));
}

// The text of a cell: its paragraphs joined by line breaks. Comments
// (annotations) are not part of what the cell shows.
QString ContentParser::paragraphs()
{
    QString text;
    bool first = true;
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart("annotation")) {
            m_xml.skipElement();
        } else if (m_xml.isStart("p") || m_xml.isStart("h")) {
            checkGrowth(text, 1);
            if (!first)
                text.append(QLatin1Char('\n'));
            first = false;
            spans(text);
        }
    }
    return text;
}

void ContentParser::spans(QString& text)
{
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.token() == FastXml::Text) {
            m_xml.appendText(text);
            checkGrowth(text, 0);
        } else if (m_xml.isStart("s")) {
            const std::int64_t count =
                std::clamp<std::int64_t>(integer(m_xml.qualifiedAttribute("text:c"), 1), 1, 1000);
            checkGrowth(text, count);
            text.append(QString(static_cast<qsizetype>(count), QLatin1Char(' ')));
        } else if (m_xml.isStart("tab")) {
            text.append(QLatin1Char('\t'));
        } else if (m_xml.isStart("line-break")) {
            text.append(QLatin1Char('\n'));
        } else if (m_xml.isStart("annotation") || m_xml.isStart("note")) {
            m_xml.skipElement();
        }
    }
}

void ContentParser::emit(const std::vector<PendingCell>& pending, std::int64_t repeat)
{
    if (pending.empty())
        return;
    // Rows past the format's limit cannot be asked for; LibreOffice pads sheets up to it.
    const std::int64_t rows = std::min(repeat, OdsRows - m_row);
    if (rows <= 0)
        return;
    // What the repeats ask for is counted before any of it is made.
    std::int64_t perRow = 0;
    for (const PendingCell& cell : pending)
        perRow += cell.repeat;
    if (static_cast<std::int64_t>(m_cells.cellCount()) + rows * perRow > WorkbookLimits::MaxCells)
        throw Failure(QStringLiteral("слишком много ячеек в листе (более %1)").arg(WorkbookLimits::MaxCells));
    std::vector<std::uint32_t> textIndex;
    for (const PendingCell& cell : pending) {
        const bool text = cell.kind == CellKind::Text || cell.kind == CellKind::Error;
        textIndex.push_back(text ? m_cells.texts().add(cell.text) : 0);
    }
    for (std::int64_t r = 1; r <= rows; ++r) {
        for (std::size_t i = 0; i < pending.size(); ++i) {
            const PendingCell& cell = pending[i];
            for (int c = cell.column; c < cell.column + cell.repeat; ++c) {
                if (cell.kind == CellKind::Text || cell.kind == CellKind::Error) {
                    m_cells.addTextIndex(m_row + r, c, textIndex[i], cell.kind);
                } else {
                    m_cells.addNumber(m_row + r, c, cell.number, cell.kind);
                }
            }
        }
    }
}

} // namespace

SheetCells readOds(ZipArchive& archive)
{
    if (archive.contains(QStringLiteral("mimetype"))) {
        const QByteArray mimetype = archive.read(QStringLiteral("mimetype"), 256);
        if (!mimetype.contains("spreadsheet"))
            throw Failure(QStringLiteral("формат не поддерживается (документ OpenDocument не таблица: %1)")
                              .arg(QString::fromLatin1(mimetype)));
    }
    // A password-protected document keeps its zip open and encrypts the parts
    // inside it; only the manifest says so.
    const QString manifest = QStringLiteral("META-INF/manifest.xml");
    if (archive.contains(manifest) && archive.read(manifest, 4 << 20).contains("encryption-data"))
        throw Failure(QStringLiteral("книга защищена паролем"));
    const QString active = readActiveTable(archive);
    const TimeStyles styles = readCommonTimeStyles(archive);
    SheetCells cells(OdsRows);
    const QString part = QStringLiteral("content.xml");
    // Room for what the sheet can hold (a cell takes at least 40 bytes of content.xml).
    const std::int64_t contentBytes = archive.sizeOf(part);
    cells.reserve(contentBytes / 40, contentBytes / 8);
    bool found = false;
    for (const QString& wanted : {active, QString()}) {
        const auto device = archive.open(part);
        FastXml xml(device.get(), part, &archive);
        ContentParser parser(xml, cells, styles);
        found = parser.run(wanted);
        if (found || wanted.isEmpty())
            break;
    }
    if (!found)
        throw Failure(QStringLiteral("в книге нет листов"));
    cells.finish();
    return cells;
}

} // namespace WorkbookReader
