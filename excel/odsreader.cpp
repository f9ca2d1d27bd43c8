#include "excel/boundedxml.h"
#include "excel/celltext.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "excel/ziparchive.h"
#include "link/error.h"

#include <QHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <vector>

namespace WorkbookReader {
namespace {

const QString TableNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString OfficeNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString TextNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");
const QString ConfigNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:config:1.0");
const QString CalcExtNs = QStringLiteral("urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0");
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

// QXmlStreamReader holds a run of character data whole until the next tag,
// so a part of nothing but spaces (a few hundred KB zipped) would be held as
// hundreds of megabytes. This device passes the part through and puts an
// empty comment into every run of character data longer than 64 KB (at a
// character boundary, outside references), which splits the run into pieces
// without changing the text; the reader's memory stays bounded by the piece.
class RunSplitter : public QIODevice
{
public:
    explicit RunSplitter(QIODevice* source) : m_source(source) { QIODevice::open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        static constexpr char Comment[] = "<!---->";
        qint64 written = 0;
        while (written < maxSize) {
            if (m_inserted < 7 && m_inserting) {
                data[written++] = Comment[m_inserted++];
                if (m_inserted == 7)
                    m_inserting = false;
                continue;
            }
            if (m_at == m_buffer.size()) {
                m_buffer.resize(65536);
                const qint64 got = m_source->read(m_buffer.data(), m_buffer.size());
                m_buffer.resize(std::max<qint64>(got, 0));
                m_at = 0;
                if (got <= 0)
                    return written > 0 ? written : -1;
            }
            const char c = m_buffer[m_at];
            if (c == '<') {
                m_inTag = true;
            } else if (c == '>') {
                m_inTag = false;
                m_run = 0;
            } else if (!m_inTag) {
                if (c == '&')
                    m_inReference = true;
                else if (c == ';')
                    m_inReference = false;
                if (++m_run > 65536 && !m_inReference && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                    m_run = 0;
                    m_inserting = true;
                    m_inserted = 0;
                    continue;
                }
            }
            data[written++] = c;
            ++m_at;
        }
        return written;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice* m_source;
    QByteArray m_buffer;
    qsizetype m_at = 0;
    qint64 m_run = 0;
    bool m_inTag = false;
    bool m_inReference = false;
    bool m_inserting = false;
    int m_inserted = 0;
};

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
    QSet<QString> elapsed;            // data styles that keep the whole hours
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
    static const QRegularExpression pattern(QStringLiteral("^-?P(?:(\\d+)D)?T?(?:(\\d+)H)?(?:(\\d+)M)?(?:([\\d.]+)S)?$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return 0.0;
    const double seconds = match.capturedView(1).toDouble() * 86400 + match.capturedView(2).toDouble() * 3600
                           + match.capturedView(3).toDouble() * 60 + match.capturedView(4).toDouble();
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
        throw Failure(QStringLiteral("слишком много текста в листе (более %1 знаков)").arg(WorkbookLimits::MaxTextChars));
}

class ContentParser
{
public:
    ContentParser(BoundedXml& xml, SheetCells& cells, TimeStyles styles) : m_xml(xml), m_cells(cells), m_styles(std::move(styles)) {}

    // Reads the table whose name is wanted, or the first one; false when there is none.
    bool run(const QString& wanted);

private:
    void table();
    void row();
    void cell(std::vector<PendingCell>& pending, int& column);
    QString paragraphs();
    void spans(QString& text);
    void emit(const std::vector<PendingCell>& pending, std::int64_t repeat);

    BoundedXml& m_xml;
    SheetCells& m_cells;
    TimeStyles m_styles;
    std::int64_t m_row = 0;
};

bool ContentParser::run(const QString& wanted)
{
    bool inSpreadsheet = false;
    while (m_xml.next()) {
        if (m_xml.isStart(u"automatic-styles")) {
            readTimeStyles(m_xml, m_styles);
        } else if (m_xml.isStart(u"spreadsheet")) {
            inSpreadsheet = true;
        } else if (inSpreadsheet && m_xml.isStart(u"table")) {
            const QString name = attributeValue(m_xml.attributes(), TableNs, u"name").toString();
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

void ContentParser::table()
{
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart(u"table-row"))
            row();
        else if (m_xml.isStart(u"table-column") || m_xml.isStart(u"shapes") || m_xml.isStart(u"named-expressions"))
            m_xml.skipElement();
    }
}

std::int64_t repeatCount(const QXmlStreamAttributes& attributes, QStringView name)
{
    const QStringView value = attributeValue(attributes, TableNs, name);
    if (value.isEmpty())
        return 1;
    return std::clamp<std::int64_t>(value.toLongLong(), 1, 1LL << 31);
}

void ContentParser::row()
{
    const std::int64_t repeat = repeatCount(m_xml.attributes(), u"number-rows-repeated");
    std::vector<PendingCell> pending;
    int column = 1;
    const int level = m_xml.depth();
    while (m_xml.next() && !(m_xml.isEnd() && m_xml.depth() < level)) {
        if (m_xml.isStart(u"table-cell") || m_xml.isStart(u"covered-table-cell"))
            cell(pending, column);
    }
    emit(pending, repeat);
    m_row += repeat;
}

void ContentParser::cell(std::vector<PendingCell>& pending, int& column)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    const std::int64_t repeat = repeatCount(attributes, u"number-columns-repeated");
    const QStringView type = attributeValue(attributes, OfficeNs, u"value-type");
    const bool error = attributeValue(attributes, CalcExtNs, u"value-type") == u"error";
    const QString text = paragraphs(); // consumes the cell
    const int first = column;
    column = static_cast<int>(std::min<std::int64_t>(column + repeat, WorkbookLimits::Columns + 1));
    if (first > WorkbookLimits::Columns)
        return;
    PendingCell value{first, column - first, CellKind::Text, 0.0, QString()};
    if (error) {
        value.kind = CellKind::Error;
        value.text = text;
    } else if (type == u"float" || type == u"percentage" || type == u"currency") {
        value.number = attributeValue(attributes, OfficeNs, u"value").toDouble();
        value.kind = looksBoolean(value.number, text) ? CellKind::Boolean : CellKind::Number;
    } else if (type == u"boolean") {
        value.kind = CellKind::Boolean;
        value.number = attributeValue(attributes, OfficeNs, u"boolean-value") == u"true" ? 1.0 : 0.0;
    } else if (type == u"date") {
        value.text = CellText::isoDateTime(attributeValue(attributes, OfficeNs, u"date-value"));
    } else if (type == u"time") {
        value.number = durationDays(attributeValue(attributes, OfficeNs, u"time-value"));
        const bool elapsed = m_styles.isElapsed(attributeValue(attributes, TableNs, u"style-name"));
        value.kind = elapsed || value.number < 0 ? CellKind::Duration : CellKind::DateTime;
    } else if (hasAttribute(attributes, OfficeNs, u"string-value")) {
        value.text = attributeValue(attributes, OfficeNs, u"string-value").toString();
    } else {
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
        if (m_xml.isStart(u"annotation")) {
            m_xml.skipElement();
        } else if (m_xml.isStart(u"p") || m_xml.isStart(u"h")) {
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
        if (m_xml.token() == QXmlStreamReader::Characters) {
            checkGrowth(text, m_xml.text().size());
            text.append(m_xml.text());
        } else if (m_xml.isStart(u"s")) {
            const std::int64_t count = std::clamp<std::int64_t>(attributeValue(m_xml.attributes(), TextNs, u"c").toLongLong(), 1, 1000);
            checkGrowth(text, count);
            text.append(QString(static_cast<qsizetype>(count), QLatin1Char(' ')));
        } else if (m_xml.isStart(u"tab")) {
            text.append(QLatin1Char('\t'));
        } else if (m_xml.isStart(u"line-break")) {
            text.append(QLatin1Char('\n'));
        } else if (m_xml.isStart(u"annotation") || m_xml.isStart(u"note")) {
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
            throw Failure(QStringLiteral("формат не поддерживается (документ OpenDocument не таблица: %1)").arg(QString::fromLatin1(mimetype)));
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
    bool found = false;
    for (const QString& wanted : {active, QString()}) {
        const auto device = archive.open(part);
        RunSplitter split(device.get());
        BoundedXml xml(&split, part, &archive);
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
