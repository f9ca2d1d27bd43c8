#include "writing/csvfield.h"

#include <utility>

namespace CsvField {

bool startsFormula(QChar c)
{
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

namespace {

const QChar Apostrophe = u'\'';

bool needsApostrophe(const QString& text)
{
    return !text.isEmpty() && (startsFormula(text[0]) || text[0] == Apostrophe);
}

} // namespace

QString encode(const QString& text)
{
    const bool apostrophe = needsApostrophe(text);
    if (!apostrophe && !text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString field;
    field.reserve(text.size() + 4);
    field += u'"';
    if (apostrophe)
        field += Apostrophe;
    for (const QChar c : text) {
        field += c;
        if (c == u'"')
            field += c;
    }
    field += u'"';
    return field;
}

QString decode(const QString& content, bool quoted)
{
    if (quoted && content.size() >= 2 && content[0] == Apostrophe && needsApostrophe(content.mid(1, 1)))
        return content.mid(1);
    return content;
}

QList<QStringList> records(const QString& text)
{
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool inQuotes = false;
    bool fieldQuoted = false; // the field began with a quote
    const auto endField = [&] {
        fields.append(decode(std::exchange(field, {}), fieldQuoted));
        fieldQuoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            if (field.isEmpty() && !fieldQuoted)
                fieldQuoted = true;
            inQuotes = true;
        } else if (c == u',') {
            endField();
        } else if (c == u'\n') {
            endField();
            records.append(std::exchange(fields, {}));
        } else if (c != u'\r') {
            field += c;
        }
    }
    return records;
}

} // namespace CsvField
