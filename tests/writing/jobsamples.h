#pragma once

// Job files for the tests: a full job, and files the program must refuse with
// a message that names what is wrong.

#include "writing/job.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <functional>

namespace JobSamples {

// A worksheet for jobs whose slots read columns: a header row, then one card a row.
inline const QByteArray Workbook = "Name;Code\r\n"
                                   "IVANOV;7\r\n"
                                   "PETROV;12\r\n"
                                   "SIDOROV;345\r\n"
                                   "KUZNETSOV;6789\r\n"
                                   "POPOV;1\r\n";

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every kind of slot on every track, worksheet parameters kept by a text slot,
// digit counts, a workbook and a track choice.
inline Job fullJob()
{
    Job job;
    TrackTemplate& t1 = job.templates.track(1);
    t1.DigitCount = 1;
    t1.slotText[0] = QStringLiteral("B");
    t1.SegmentKind[1] = ExcelSegment;
    t1.slotText[1] = QStringLiteral("IVANOV");
    t1.ExcelColumn[1] = 1;
    t1.ExcelRow[1] = 2;
    t1.ExcelStep[1] = 1;
    t1.ExcelDirection[1] = ExcelRowRises;
    t1.slotText[2] = QStringLiteral("Ж/ё \"кавычки\"");
    TrackTemplate& t2 = job.templates.track(2);
    t2.DigitCount = 4;
    t2.SegmentKind[0] = RisingCounterSegment;
    t2.slotText[0] = QStringLiteral("1000+1");
    t2.slotText[1] = QStringLiteral("=");
    t2.ExcelColumn[1] = 26; // a text slot that was a worksheet slot keeps its parameters
    t2.ExcelRow[1] = 2147483647;
    t2.ExcelStep[1] = 999;
    t2.SegmentKind[8] = FallingCounterSegment; // deleted: the kind stays, the text is empty
    TrackTemplate& t3 = job.templates.track(3);
    t3.DigitCount = 10;
    t3.SegmentKind[0] = FallingCounterSegment;
    t3.slotText[0] = QStringLiteral("0-0");
    t3.SegmentKind[4] = ExcelSegment;
    t3.slotText[4] = QStringLiteral(" ");
    t3.ExcelColumn[4] = 3;
    t3.ExcelRow[4] = 1;
    t3.ExcelStep[4] = 0;
    t3.ExcelDirection[4] = ExcelRowFalls;
    job.workbook = QStringLiteral("/data/cards.xlsx");
    job.workbookBesideJob = QStringLiteral("../data/cards.xlsx");
    job.trackChoice = 5;
    job.batch = {500, 12};
    return job;
}

inline QByteArray changed(const std::function<void(QJsonObject&)>& change)
{
    QJsonObject root = QJsonDocument::fromJson(JobFile::toJson(fullJob())).object();
    change(root);
    return QJsonDocument(root).toJson();
}

// Sets a field of a slot: tracks and slots counted from 1.
inline QByteArray slotField(int track, int slot, const QString& key, const QJsonValue& value, bool excel = false)
{
    return changed([=](QJsonObject& root) {
        QJsonArray tracks = root[QStringLiteral("tracks")].toArray();
        QJsonObject t = tracks[track - 1].toObject();
        QJsonArray slots = t[QStringLiteral("slots")].toArray();
        QJsonObject s = slots[slot - 1].toObject();
        if (excel) {
            QJsonObject e = s[QStringLiteral("excel")].toObject();
            e[key] = value;
            s[QStringLiteral("excel")] = e;
        } else if (value.isUndefined()) {
            s.remove(key);
        } else {
            s[key] = value;
        }
        slots[slot - 1] = s;
        t[QStringLiteral("slots")] = slots;
        tracks[track - 1] = t;
        root[QStringLiteral("tracks")] = tracks;
    });
}

inline QByteArray trackField(int track, const QString& key, const QJsonValue& value)
{
    return changed([=](QJsonObject& root) {
        QJsonArray tracks = root[QStringLiteral("tracks")].toArray();
        QJsonObject t = tracks[track - 1].toObject();
        t[key] = value;
        tracks[track - 1] = t;
        root[QStringLiteral("tracks")] = tracks;
    });
}

inline QByteArray rootField(const QString& key, const QJsonValue& value)
{
    return changed([=](QJsonObject& root) {
        if (value.isUndefined())
            root.remove(key);
        else
            root[key] = value;
    });
}

inline QByteArray batchField(const QString& key, const QJsonValue& value)
{
    return changed([=](QJsonObject& root) {
        QJsonObject batch = root[QStringLiteral("batch")].toObject();
        batch[key] = value;
        root[QStringLiteral("batch")] = batch;
    });
}

struct Refused
{
    const char* name;
    QByteArray bytes;
    JobProblem problem;
    QString says; // a part of the message
};

inline QList<Refused> refusedFiles()
{
    const QByteArray full = JobFile::toJson(fullJob());
    QJsonArray eightSlots = QJsonDocument::fromJson(full)
                                .object()[QStringLiteral("tracks")]
                                .toArray()[0]
                                .toObject()[QStringLiteral("slots")]
                                .toArray();
    eightSlots.removeLast();
    const auto S = [](const char* text) { return QString::fromUtf8(text); };
    return {
        {"cut short", full.left(full.size() / 2), JobProblem::Broken, S("оборван")},
        {"empty file", QByteArray(), JobProblem::Broken, S("оборван")},
        {"zeros after a power cut", QByteArray(300, '\0'), JobProblem::Broken, S("оборван")},
        {"newer version", rootField(S("version"), 2), JobProblem::Newer, S("более новой версией")},
        {"version not a number", rootField(S("version"), S("1")), JobProblem::Broken, S("«version» не целое")},
        {"version 0", rootField(S("version"), 0), JobProblem::Broken, S("«version» = 0 вне пределов")},
        {"a worksheet", "Name;Code\r\nIVANOV;7\r\n", JobProblem::NotAJob, S("не является заданием")},
        {"another format", rootField(S("format"), S("other-tool")), JobProblem::NotAJob, S("не является заданием")},
        {"a JSON list", "[1, 2, 3]", JobProblem::NotAJob, S("не является заданием")},
        {"far too large", "{" + QByteArray(JobFormat::MaxFileSize + 10, ' ') + "}", JobProblem::NotAJob,
         S("слишком велик")},
        {"kind 4", slotField(2, 3, S("kind"), 4), JobProblem::Broken,
         S("дорожка 2, слот 3: «kind» = 4 вне пределов 0..3")},
        {"kind -1", slotField(1, 1, S("kind"), -1), JobProblem::Broken, S("«kind» = -1 вне пределов 0..3")},
        {"kind missing", slotField(1, 1, S("kind"), QJsonValue::Undefined), JobProblem::Broken, S("нет поля «kind»")},
        {"text a number", slotField(1, 1, S("text"), 5), JobProblem::Broken, S("поле «text» не текст")},
        {"text of two lines", slotField(1, 1, S("text"), S("A\nB")), JobProblem::Broken, S("в несколько строк")},
        {"counter without step", slotField(2, 1, S("text"), S("12+")), JobProblem::Broken, S("счётчик «12+»")},
        {"counter not a number", slotField(2, 1, S("text"), S("abc")), JobProblem::Broken, S("счётчик «abc»")},
        {"counter past 2147483647", slotField(2, 1, S("text"), S("2147483648+1")), JobProblem::Broken,
         S("счётчик «2147483648+1»")},
        {"column 0", slotField(1, 2, S("column"), 0, true), JobProblem::Broken, S("«column» = 0 вне пределов 1..26")},
        {"column 27", slotField(1, 2, S("column"), 27, true), JobProblem::Broken,
         S("«column» = 27 вне пределов 1..26")},
        {"row 0", slotField(1, 2, S("row"), 0, true), JobProblem::Broken, S("«row» = 0 вне пределов 1..2147483647")},
        {"row past 2147483647", slotField(1, 2, S("row"), 2147483648.0, true), JobProblem::Broken,
         S("«row» = 2147483648 вне пределов")},
        {"row a fraction", slotField(1, 2, S("row"), 2.5, true), JobProblem::Broken, S("«row» не целое")},
        {"step 1000", slotField(1, 2, S("step"), 1000, true), JobProblem::Broken,
         S("«step» = 1000 вне пределов 0..999")},
        {"step -1", slotField(1, 2, S("step"), -1, true), JobProblem::Broken, S("«step» = -1 вне пределов 0..999")},
        {"worksheet slot without its column", slotField(1, 2, S("excel"), QJsonValue::Undefined), JobProblem::Broken,
         S("дорожка 1, слот 2: слот Excel без поля «excel»")},
        {"direction x", slotField(1, 2, S("direction"), S("x"), true), JobProblem::Broken, S("направление «x»")},
        {"digit count 0", trackField(2, S("digitCount"), 0), JobProblem::Broken,
         S("дорожка 2: «digitCount» = 0 вне пределов 1..10")},
        {"digit count 11", trackField(3, S("digitCount"), 11), JobProblem::Broken,
         S("«digitCount» = 11 вне пределов 1..10")},
        {"eight slots", trackField(1, S("slots"), eightSlots), JobProblem::Broken,
         S("дорожка 1: нужен список из 9 слотов")},
        {"two tracks", changed([](QJsonObject& root) {
             QJsonArray tracks = root[QStringLiteral("tracks")].toArray();
             tracks.removeLast();
             root[QStringLiteral("tracks")] = tracks;
         }),
         JobProblem::Broken, S("«tracks» из 3 дорожек")},
        {"choice 6", rootField(S("trackChoice"), 6), JobProblem::Broken, S("«trackChoice» = 6 вне пределов 0..5")},
        {"choice -1", rootField(S("trackChoice"), -1), JobProblem::Broken, S("«trackChoice» = -1 вне пределов 0..5")},
        {"choice missing", rootField(S("trackChoice"), QJsonValue::Undefined), JobProblem::Broken,
         S("нет поля «trackChoice»")},
        {"workbook a number", rootField(S("workbook"), 7), JobProblem::Broken, S("«workbook» не объект")},
        {"batch a number", rootField(S("batch"), 7), JobProblem::Broken, S("«batch» не объект")},
        {"shared batch with a password",
         rootField(
             S("shared"),
             QJsonObject{{S("connection"), S("host=db password=secret")}, {S("batch"), 3}, {S("name"), S("May")}}),
         JobProblem::Broken, S("общая партия: подключение пусто или содержит пароль")},
        {"shared batch 0",
         rootField(S("shared"),
                   QJsonObject{{S("connection"), S("service=bureau")}, {S("batch"), 0}, {S("name"), S("May")}}),
         JobProblem::Broken, S("общая партия: «batch» = 0 вне пределов")},
        {"batch size a text", batchField(S("size"), S("500")), JobProblem::Broken,
         S("партия: поле «size» не целое число")},
        {"batch size 0", batchField(S("size"), 0), JobProblem::Broken, S("«size» = 0 вне пределов 1..1048576")},
        {"batch size past 1048576", batchField(S("size"), 1048577), JobProblem::Broken,
         S("«size» = 1048577 вне пределов 1..1048576")},
        {"batch written past its size", batchField(S("written"), 501), JobProblem::Broken,
         S("партия: «written» = 501 вне пределов 0..500")},
        {"batch written -1", batchField(S("written"), -1), JobProblem::Broken, S("«written» = -1 вне пределов")},
    };
}

} // namespace JobSamples
