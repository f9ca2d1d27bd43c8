#pragma once

#include <QString>

#include <array>

class CellSource;

// The templates of the three tracks the program encodes: per track nine slots
// whose texts the composer's grids show, the per-slot tables that say what each
// slot is, and the digit count. A TemplateSet is a plain value, so the generator
// can advance a copy and the caller keep or drop it as a whole.
//
// The tables keep the widths they have always had (room for 10 kinds and 21
// Excel slots per track) although only slots 0 to 8 are used.

// Values of SegmentKind.
enum SegmentKindValue : quint8 {
    TextSegment = 0,
    RisingCounterSegment = 1,
    FallingCounterSegment = 2,
    ExcelSegment = 3,
};

// Values of ExcelDirection.
enum ExcelDirectionValue : quint8 {
    ExcelRowFalls = 0,
    ExcelRowRises = 1,
};

constexpr int SlotCount = 9;
constexpr int SegmentKindRoom = 10;
constexpr int ExcelTableRoom = 21;
constexpr int TrackCount = 3;

struct TrackTemplate
{
    std::array<QString, SlotCount> slotText;
    std::array<quint8, SegmentKindRoom> SegmentKind{};
    std::array<quint8, ExcelTableRoom> ExcelDirection{};
    std::array<qint32, ExcelTableRoom> ExcelColumn{};
    std::array<qint32, ExcelTableRoom> ExcelRow{};
    std::array<qint32, ExcelTableRoom> ExcelStep{};
    qint32 DigitCount = 0;

    friend bool operator==(const TrackTemplate&, const TrackTemplate&) = default;
};

// What the composer's controls hold when "Добавить" is pressed.
struct AddRequest
{
    int kindItem = 0;           // item of the kind selector: 0 text, 1 "+", 2 "-", 3 "Файл Excel", -1 none
    QString text;               // Edit1
    int counterStart = 0;       // SpinEdit1
    int counterStep = 0;        // SpinEdit2
    int digitCount = 4;         // SpinEdit3
    int excelColumn = 1;        // SpinEdit4
    int excelRow = 1;           // SpinEdit5
    int excelDirectionItem = 0; // ComboBox2: 0 "+", 1 "-", -1 none
    int excelStep = 1;          // SpinEdit6
};

// How an Add ended; the composer shows the message that belongs to it.
enum class AddOutcome {
    Done,
    NotConnected, // "База даных не подключна": the slot is unchanged
    RowBelowOne, // "Номер строки должен быть больше 0": the slot keeps the entered row's text
};

class TemplateSet
{
public:
    // The track (1..3) the composer edits; 0 until it is first opened.
    quint8 CurrentTrack = 0;

    static int capacity(int track);
    // Capacity less the lengths of the slot texts as stored; may be negative.
    int remainingCapacity(int track) const;

    TrackTemplate& track(int track);
    const TrackTemplate& track(int track) const;

    // Add of the composer on one slot. It works in place and in order: when a
    // cell read throws, the steps before it stay done (DigitCount is set; when
    // the preview read fails, the slot already holds the entered row's text).
    AddOutcome add(int track, int slot, const AddRequest& request, bool connected, CellSource& cells);
    // Empties the slot's text only; kind and Excel parameters stay.
    void deleteSlot(int track, int slot);

    friend bool operator==(const TemplateSet&, const TemplateSet&) = default;

private:
    AddOutcome addExcel(int track, int slot, const AddRequest& request, CellSource& cells);

    std::array<TrackTemplate, TrackCount> m_tracks;
};

namespace TemplateRules {

QString notConnectedMessage();
QString rowBelowOneMessage();

// The worksheet column as its letter: 1 gives "A", 26 "Z".
QString columnLetter(int column);

// Whether a character typed into the composer's text edit is taken. Tracks 2
// and 3 hold only what the terminal writes on its numeric tracks.
bool textKeyPasses(int track, char16_t code);

// A slot is one grid cell: a value with line breaks keeps its first line, and
// an empty first line becomes one space so that the slot stays in use.
QString firstLine(const QString& text);

} // namespace TemplateRules
