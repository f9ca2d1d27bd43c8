#!/usr/bin/python3
"""Writes the small workbook fixtures of the workbook-source tests.

Every producer an operator's file may come from writes the same sheet: openpyxl,
xlsxwriter (shared and inline strings), pandas, xlwt, and LibreOffice (ods, xls
as Excel 97, and xlsx converted from the xlsxwriter file). The
active sheet is always the second one, "Данные"; the first, "Обложка", holds a
decoy. A second sheet of dates and times (dates.*) comes from xlsxwriter, xlwt
and LibreOffice (ods and Excel 97), with a chart embedded on it. LibreOffice no
longer saves Excel 95, so biff5.xls is written here record by record.

Run with /usr/bin/python3 (Debian's python3-openpyxl, python3-xlsxwriter,
python3-xlwt, python3-pandas) and libreoffice-calc on the PATH:
    /usr/bin/python3 scripts/make_workbook_fixtures.py [output folder]
    /usr/bin/python3 scripts/make_workbook_fixtures.py --fuzz-seeds tests/fuzz/corpus/workbook
The tests read the committed output; they need neither Python nor LibreOffice.
"""
import datetime
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

import openpyxl
import pandas
import xlsxwriter
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "tests", "excel", "fixtures")

DECOY = "не тот лист"
MULTILINE = "Первая строка\nвторая строка"


def openpyxl_book(path):
    wb = openpyxl.Workbook()
    cover = wb.active
    cover.title = "Обложка"
    cover["A1"] = DECOY
    ws = wb.create_sheet("Данные")
    ws.append(["Имя", "Номер", "Дата"])
    ws.append(["Иванов", 12345, datetime.date(2024, 3, 15)])
    ws.append([MULTILINE, 1.5, datetime.datetime(2024, 3, 15, 13, 45, 10)])
    ws.append(["ABC", -42, datetime.time(13, 45)])
    ws.append([True, False, "=B2*2"])  # openpyxl stores no value for a formula
    ws.append([])
    ws.append(["0012", 1234567890123456, 0.1 + 0.2])
    ws["Z9"] = "zed"
    ws.cell(row=3, column=3).number_format = "dd.mm.yyyy hh:mm:ss"
    wb.active = 1
    for sheet in wb.worksheets:
        sheet.sheet_view.tabSelected = sheet.title == "Данные"
    wb.save(path)


def xlsxwriter_book(path, inline):
    wb = xlsxwriter.Workbook(path, {"constant_memory": inline})
    cover = wb.add_worksheet("Обложка")
    cover.write("A1", DECOY)
    ws = wb.add_worksheet("Данные")
    date = wb.add_format({"num_format": "dd.mm.yyyy"})
    stamp = wb.add_format({"num_format": "yyyy-mm-dd hh:mm:ss"})
    clock = wb.add_format({"num_format": "hh:mm"})
    bold = wb.add_format({"bold": True})
    ws.write_row(0, 0, ["Имя", "Номер", "Дата"])
    ws.write(1, 0, "Иванов")
    ws.write(1, 1, 12345)
    ws.write_datetime(1, 2, datetime.datetime(2024, 3, 15), date)
    ws.write(2, 0, MULTILINE)
    ws.write(2, 1, 1.5)
    ws.write_datetime(2, 2, datetime.datetime(2024, 3, 15, 13, 45, 10), stamp)
    ws.write_rich_string(3, 0, bold, "AB", "C")
    ws.write(3, 1, -42)
    ws.write_datetime(3, 2, datetime.time(13, 45), clock)
    ws.write_boolean(4, 0, True)
    ws.write_boolean(4, 1, False)
    ws.write_formula(4, 2, "=B2*2", None, 24690)
    ws.write_string(6, 0, "0012")
    ws.write_number(6, 1, 1234567890123456)
    ws.write_number(6, 2, 0.1 + 0.2)
    ws.write_formula(7, 0, '="ab"&"cd"', None, "abcd")
    ws.write_formula(7, 1, "=1/0", None, "#DIV/0!")
    ws.write_formula(7, 2, "=1>0", None, True)
    ws.write(7, 3, "end")
    ws.write(8, 25, "zed")
    ws.activate()
    wb.close()


# Dates and times that spreadsheets store as serial day numbers, each on its
# own row of column A of the sheet "Даты", with what column B says it reads as.
DATE_ROWS = [
    (datetime.datetime(9999, 12, 31), "dd.mm.yyyy", "31.12.9999"),
    (datetime.datetime(2100, 3, 1), "dd.mm.yyyy", "01.03.2100"),
    (60, "dd.mm.yyyy", "28.02.1900"),
    ((86399.6) / 86400, "hh:mm:ss", "00:00:00"),
    ((255 * 3600 + 10 * 60 + 10) / 86400, "[h]:mm:ss", "255:10:10"),
    (45366.5, "yyyy", "15.03.2024 12:00:00"),
    (45366.5, "mmm", "15.03.2024 12:00:00"),
    (45366.5, "dd", "15.03.2024 12:00:00"),
    (45366.5, "hh", "15.03.2024 12:00:00"),
    (45366.5, "ss", "15.03.2024 12:00:00"),
    (45366.5, "dddd", "15.03.2024 12:00:00"),
    (datetime.datetime(1900, 3, 1), "dd.mm.yyyy", "01.03.1900"),
]


def dates_book(path):
    """The date rows, a formula whose result is an empty text, and a chart
    embedded on the sheet over cached numbers that are not cells of it."""
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Даты")
    for row, (value, code, text) in enumerate(DATE_ROWS):
        style = wb.add_format({"num_format": code})
        if isinstance(value, datetime.datetime):
            ws.write_datetime(row, 0, value, style)
        else:
            ws.write_number(row, 0, value, style)
        ws.write_string(row, 1, text)
    ws.write_formula(len(DATE_ROWS), 0, '=""', None, "")
    ws.write_string(len(DATE_ROWS), 1, "after the empty text")
    for row in range(3):
        ws.write_number(20 + row, 2, row + 7)
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"values": "='Даты'!$C$21:$C$23"})
    ws.insert_chart("E2", chart)
    wb.close()


def dates_xlwt(path):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Даты")
    for row, (value, code, text) in enumerate(DATE_ROWS):
        style = xlwt.easyxf(num_format_str=code)
        ws.write(row, 0, value, style)
        ws.write(row, 1, text)
    wb.save(path)


def record(kind, data):
    return struct.pack("<HH", kind, len(data)) + data


def biff5_text(text, long_count=True):
    raw = text.encode("cp1251")
    return struct.pack("<H" if long_count else "<B", len(raw)) + raw


def biff5_sheet(cells):
    """A worksheet substream of BIFF5 cell records from (row, col, kind, value, xf)."""
    out = record(0x0809, struct.pack("<HHHH", 0x0500, 0x0010, 0x0DBB, 0x07CC))
    out += record(0x0200, struct.pack("<HHHHH", 0, 9, 0, 26, 0))
    for row, col, kind, value, xf in cells:
        head = struct.pack("<HHH", row, col, xf)
        if kind == "text":
            out += record(0x0204, head + biff5_text(value))
        elif kind == "number":
            out += record(0x0203, head + struct.pack("<d", value))
        elif kind == "rk":
            out += record(0x027E, head + struct.pack("<i", value << 2 | 2))
        elif kind == "bool":
            out += record(0x0205, head + struct.pack("<BB", value, 0))
        elif kind == "formula number":
            out += record(0x0006, head + struct.pack("<dHI", value, 0, 0) + b"\x00\x00")
        elif kind == "formula text":
            out += record(0x0006, head + struct.pack("<BBBBBBH", 0, 0, 0, 0, 0, 0, 0xFFFF) + struct.pack("<HI", 0, 0) + b"\x00\x00")
            out += record(0x0207, biff5_text(value))
        elif kind == "formula error":
            out += record(0x0006, head + struct.pack("<BBBBBBH", 2, 0, value, 0, 0, 0, 0xFFFF) + struct.pack("<HI", 0, 0) + b"\x00\x00")
        elif kind == "formula bool":
            out += record(0x0006, head + struct.pack("<BBBBBBH", 1, 0, value, 0, 0, 0, 0xFFFF) + struct.pack("<HI", 0, 0) + b"\x00\x00")
    return out + record(0x000A, b"")


def biff5_book():
    """The producers' sheet as Excel 5/95 stores it (BIFF5, Windows-1251
    texts, no shared strings); no writer at hand still writes this format."""
    formats = [(164, "DD.MM.YYYY"), (165, "DD.MM.YYYY HH:MM:SS"), (166, "HH:MM")]
    xf = lambda fmt: struct.pack("<HHHHHHHH", 0, fmt, 0x0001, 0, 0, 0, 0, 0)
    xfs = [xf(0)] * 16 + [xf(0), xf(164), xf(165), xf(166)]  # cell styles 16..19
    sheet = [
        (0, 0, "text", "Имя", 16), (0, 1, "text", "Номер", 16), (0, 2, "text", "Дата", 16),
        (1, 0, "text", "Иванов", 16), (1, 1, "rk", 12345, 16), (1, 2, "number", 45366.0, 17),
        (2, 0, "text", MULTILINE, 16), (2, 1, "number", 1.5, 16),
        (2, 2, "number", 45366 + (13 * 3600 + 45 * 60 + 10) / 86400, 18),
        (3, 0, "text", "ABC", 16), (3, 1, "rk", -42, 16), (3, 2, "number", 13.75 / 24, 19),
        (4, 0, "bool", 1, 16), (4, 1, "bool", 0, 16), (4, 2, "formula number", 24690.0, 16),
        (6, 0, "text", "0012", 16), (6, 1, "number", 1234567890123456.0, 16), (6, 2, "number", 0.1 + 0.2, 16),
        (7, 0, "formula text", "abcd", 16), (7, 1, "formula error", 0x07, 16), (7, 2, "formula bool", 1, 16),
        (7, 3, "text", "end", 16), (8, 25, "text", "zed", 16),
    ]
    cover = biff5_sheet([(0, 0, "text", DECOY, 16)])
    data = biff5_sheet(sheet)

    def globals_(offsets):
        out = record(0x0809, struct.pack("<HHHH", 0x0500, 0x0005, 0x0DBB, 0x07CC))
        out += record(0x0042, struct.pack("<H", 1251))
        out += record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x3000, 0x38, 1, 0, 1, 0x258))
        out += record(0x0022, struct.pack("<H", 0))
        for index, code in formats:
            out += record(0x041E, struct.pack("<H", index) + biff5_text(code, long_count=False))
        for x in xfs:
            out += record(0x00E0, x)
        for offset, name in zip(offsets, ["Обложка", "Данные"]):
            out += record(0x0085, struct.pack("<IBB", offset, 0, 0) + biff5_text(name, long_count=False))
        return out + record(0x000A, b"")

    size = len(globals_([0, 0]))
    return globals_([size, size + len(cover)]) + cover + data


def compound_file(name, stream):
    """A compound file holding one stream, padded to 4096 bytes so that it
    lives in ordinary sectors and needs no mini stream."""
    stream = stream + b"\x00" * (-len(stream) % 512)
    stream = stream + b"\x00" * max(0, 4096 - len(stream))
    sectors = len(stream) // 512
    end, free = 0xFFFFFFFE, 0xFFFFFFFF
    fat = [0xFFFFFFFD, end] + [3 + i for i in range(sectors - 1)] + [end]
    fat += [free] * (128 - len(fat))
    header = bytes.fromhex("D0CF11E0A1B11AE1") + b"\x00" * 16 + struct.pack(
        "<HHHHH6sIIIIIIIII", 0x3E, 3, 0xFFFE, 9, 6, b"", 0, 1, 1, 0, 4096, end, 0, end, 0)
    header += struct.pack("<I", 0) + struct.pack("<I", free) * 108

    def entry(entry_name, kind, child, start, size):
        encoded = entry_name.encode("utf-16-le") + b"\x00\x00"
        return (encoded.ljust(64, b"\x00") + struct.pack("<HBB", len(encoded), kind, 1)
                + struct.pack("<III", free, free, child) + b"\x00" * 16 + b"\x00" * 4 + b"\x00" * 16
                + struct.pack("<III", start, size, 0))

    directory = entry("Root Entry", 5, 1, end, 0) + entry(name, 2, free, 2, len(stream))
    directory = directory.ljust(512, b"\x00")
    return header + struct.pack("<128I", *fat) + directory + stream


def small_compound_file(name, stream):
    """A compound file whose one stream (under 4096 bytes) lives in the mini
    stream, as Excel keeps small workbooks: small enough for a fuzz seed."""
    end, free = 0xFFFFFFFE, 0xFFFFFFFF
    minis = (len(stream) + 63) // 64
    container = stream.ljust(minis * 64, b"\x00")
    container = container.ljust((len(container) + 511) // 512 * 512, b"\x00")
    sectors = len(container) // 512
    fat = [0xFFFFFFFD, end, end] + [4 + i for i in range(sectors - 1)] + [end]
    fat += [free] * (128 - len(fat))
    minifat = [i + 1 for i in range(minis - 1)] + [end]
    minifat += [free] * (128 - len(minifat))
    header = bytes.fromhex("D0CF11E0A1B11AE1") + b"\x00" * 16 + struct.pack(
        "<HHHHH6sIIIIIIIII", 0x3E, 3, 0xFFFE, 9, 6, b"", 0, 1, 1, 0, 4096, 2, 1, end, 0)
    header += struct.pack("<I", 0) + struct.pack("<I", free) * 108

    def entry(entry_name, kind, child, start, size):
        encoded = entry_name.encode("utf-16-le") + b"\x00\x00"
        return (encoded.ljust(64, b"\x00") + struct.pack("<HBB", len(encoded), kind, 1)
                + struct.pack("<III", free, free, child) + b"\x00" * 36 + struct.pack("<III", start, size, 0))

    directory = entry("Root Entry", 5, 1, 3, minis * 64) + entry(name, 2, free, 0, len(stream))
    return (header + struct.pack("<128I", *fat) + directory.ljust(512, b"\x00")
            + struct.pack("<128I", *minifat) + container)


SEED_XLSX_PARTS = [
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>',
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
    'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
    '</Relationships>',
    '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/'
    'officeDocument/2006/relationships"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>',
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
    'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets\\sheet1.xml"/>'
    '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" '
    'Target="sharedStrings.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
    'relationships/styles" Target="styles.xml"/></Relationships>',
    '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>a_x000D_\r\nb_x005F_x0041_</t></si>'
    '<si><r><t>x&#13;</t></r><rPh><t>y</t></rPh></si></sst>',
    '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts><numFmt numFmtId="164" '
    'formatCode="[h]:mm:ss"/><numFmt numFmtId="165" formatCode="dddd"/></numFmts><cellXfs><xf numFmtId="0"/>'
    '<xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="14"/></cellXfs></styleSheet>',
    '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1">'
    '<c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" s="1"><v>10.6320601851852</v></c>'
    '<c r="D1" s="2"><v>45366.5</v></c><c r="E1" s="3"><v>60</v></c><c r="F1" s="3"><v>2958465</v></c></row>'
    '<row r="2"><c r="A2" t="str"><f>""</f><v></v></c><c r="B2" s="3"><v>0.999995370370370</v></c></row>'
    '</sheetData></worksheet>',
]

SEED_ODS_PARTS = [
    "application/vnd.oasis.opendocument.spreadsheet",
    "",
    '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
    'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
    'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
    'xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"><office:automatic-styles>'
    '<number:time-style style:name="N1" number:truncate-on-overflow="false"><number:hours/></number:time-style>'
    '<style:style style:name="ce1" style:family="table-cell" style:data-style-name="N1"/></office:automatic-styles>'
    '<office:body><office:spreadsheet><table:table table:name="T"><table:table-row table:number-rows-repeated="2">'
    '<table:table-cell table:style-name="ce1" office:value-type="time" office:time-value="PT255H10M10S"/>'
    '<table:table-cell office:value-type="time" office:time-value="PT23H59M59.6S"/>'
    '<table:table-cell table:number-columns-repeated="3"><text:p>a<text:s text:c="5"/>b\r\nc</text:p></table:table-cell>'
    '</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>',
]


def fuzz_seeds(folder):
    """Seeds of the workbook fuzz target (tests/fuzz/corpus/workbook): the
    first byte picks the reader (2 xls, 3 csv, 4 xlsx parts, 5 ods parts)."""
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "xls_biff5": b"\x02" + small_compound_file("Book", biff5_book()),
        "csv_decimal_commas": b"\x03" + "Сумма;Цена\r\n1,5;2,5\r\n3,5;\"4;5\"\r\n".encode("cp1251"),
        "xlsx_escapes_durations": b"\x04" + b"\x00".join(p.encode("utf-8") for p in SEED_XLSX_PARTS),
        "ods_times_spaces": b"\x05" + b"\x00".join(p.encode("utf-8") for p in SEED_ODS_PARTS),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def pandas_book(path):
    frame = pandas.DataFrame({"Карта": ["4000123412341234", "4000123412341235"], "Сумма": [100, 250.75],
                              "Срок": [datetime.datetime(2027, 12, 31), datetime.datetime(2028, 1, 31)]})
    frame.to_excel(path, index=False, sheet_name="Данные")


def xlwt_book(path):
    wb = xlwt.Workbook(encoding="utf-8")
    cover = wb.add_sheet("Обложка")
    cover.write(0, 0, DECOY)
    ws = wb.add_sheet("Данные")
    date = xlwt.easyxf(num_format_str="DD.MM.YYYY")
    ws.write(0, 0, "Имя")
    ws.write(0, 1, "Номер")
    ws.write(0, 2, "Дата")
    ws.write(1, 0, "Иванов")
    ws.write(1, 1, 12345)
    ws.write(1, 2, datetime.date(2024, 3, 15), date)
    ws.write(2, 0, MULTILINE)
    ws.write(2, 1, 1.5)
    ws.write(3, 0, "ABC")
    ws.write(3, 1, -42)
    ws.write(4, 0, True)
    ws.write(4, 1, False)
    ws.write(4, 2, xlwt.Formula("B2*2"))  # xlwt stores no result for a formula
    ws.write(6, 0, "0012")
    ws.write(6, 1, 1234567890123456)
    ws.write(8, 25, "zed")
    wb.set_active_sheet(1)
    cover.set_selected(False)
    ws.set_selected(True)
    wb.save(path)


CSV_ROWS = [
    ["Имя", "Номер", "Примечание"],
    ["Иванов", "12345", "с ; точкой с запятой"],
    ["Петров", "0012", "Первая строка\r\nвторая строка"],
    ["", "7", 'в "кавычках"'],
]


def csv_text(delimiter):
    def field(value):
        if any(c in value for c in (delimiter, '"', "\n", "\r")):
            return '"' + value.replace('"', '""') + '"'
        return value
    return "".join(delimiter.join(field(v) for v in row) + "\r\n" for row in CSV_ROWS)


def libreoffice(source, target_dir, filter_name, name):
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    work = tempfile.mkdtemp(prefix="lo-out-")
    try:
        subprocess.run(["libreoffice", "-env:UserInstallation=file://" + profile, "--headless",
                        "--convert-to", filter_name, "--outdir", work, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=180)
        produced = [f for f in os.listdir(work)]
        if len(produced) != 1:
            raise RuntimeError("LibreOffice produced %r" % produced)
        shutil.move(os.path.join(work, produced[0]), os.path.join(target_dir, name))
    finally:
        shutil.rmtree(profile, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)


VIEW_SETTINGS = (
    '<config:config-item-map-indexed config:name="Views"><config:config-item-map-entry>'
    '<config:config-item config:name="ViewId" config:type="string">view1</config:config-item>'
    '<config:config-item config:name="ActiveTable" config:type="string">%s</config:config-item>'
    '</config:config-item-map-entry></config:config-item-map-indexed>')


def add_active_table(path, sheet):
    """A headless conversion has no view, so LibreOffice saves no ActiveTable;
    put in the view settings its window would have saved with that sheet active."""
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info.filename)) for info in source.infolist()]
    marker = b'<config:config-item-set config:name="ooo:view-settings">'
    with zipfile.ZipFile(path, "w") as target:
        for info, data in entries:
            if info.filename == "settings.xml":
                data = data.replace(marker, marker + (VIEW_SETTINGS % sheet).encode("utf-8"), 1)
            target.writestr(info, data, compress_type=info.compress_type)


def drop_entries(path, prefixes):
    """Leaves out parts the readers never open (thumbnails, the chart's
    replacement image), which would make up most of a fixture's bytes."""
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info.filename)) for info in source.infolist()
                   if not info.filename.startswith(prefixes)]
    with zipfile.ZipFile(path, "w") as target:
        for info, data in entries:
            target.writestr(info, data, compress_type=info.compress_type)


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--fuzz-seeds":
        fuzz_seeds(sys.argv[2])
        return
    os.makedirs(OUT, exist_ok=True)
    openpyxl_book(os.path.join(OUT, "openpyxl.xlsx"))
    xlsxwriter_book(os.path.join(OUT, "xlsxwriter.xlsx"), inline=False)
    xlsxwriter_book(os.path.join(OUT, "xlsxwriter_inline.xlsx"), inline=True)
    pandas_book(os.path.join(OUT, "pandas.xlsx"))
    xlwt_book(os.path.join(OUT, "xlwt.xls"))
    with open(os.path.join(OUT, "semicolon_1251.csv"), "wb") as f:
        f.write(csv_text(";").encode("cp1251"))
    with open(os.path.join(OUT, "comma_utf8.csv"), "wb") as f:
        f.write(csv_text(",").encode("utf-8"))
    with open(os.path.join(OUT, "decimal_commas.csv"), "wb") as f:
        f.write("Сумма;Цена;Итог\r\n1,5;2,5;3,75\r\n10,25;0,5;1 234,5\r\n".encode("cp1251"))
    with open(os.path.join(OUT, "tab_utf8_bom.csv"), "wb") as f:
        f.write(b"\xef\xbb\xbf" + csv_text("\t").encode("utf-8"))
    source = os.path.join(OUT, "xlsxwriter.xlsx")
    libreoffice(source, OUT, "ods", "libreoffice.ods")
    add_active_table(os.path.join(OUT, "libreoffice.ods"), "Данные")
    libreoffice(source, OUT, 'xls:MS Excel 97', "libreoffice.xls")
    libreoffice(source, OUT, 'xlsx:Calc MS Excel 2007 XML', "libreoffice.xlsx")
    with open(os.path.join(OUT, "biff5.xls"), "wb") as f:
        f.write(compound_file("Book", biff5_book()))
    dates = os.path.join(OUT, "dates.xlsx")
    dates_book(dates)
    dates_xlwt(os.path.join(OUT, "dates_xlwt.xls"))
    libreoffice(dates, OUT, "ods", "dates.ods")
    drop_entries(os.path.join(OUT, "dates.ods"), ("Thumbnails/", "ObjectReplacements/"))
    libreoffice(dates, OUT, 'xls:MS Excel 97', "dates.xls")
    for name in sorted(os.listdir(OUT)):
        print("%-26s %6d bytes" % (name, os.path.getsize(os.path.join(OUT, name))))


if __name__ == "__main__":
    main()
