#!/usr/bin/python3
"""Writes the small workbook fixtures of the workbook-source tests.

Every producer an operator's file may come from writes the same sheet: openpyxl,
xlsxwriter (shared and inline strings), pandas, xlwt, and LibreOffice (ods, xls
and xlsx converted from the xlsxwriter file). The active sheet is always the
second one, "Данные"; the first, "Обложка", holds a decoy.

Run with /usr/bin/python3 (Debian's python3-openpyxl, python3-xlsxwriter,
python3-xlwt, python3-pandas) and libreoffice-calc on the PATH:
    /usr/bin/python3 scripts/make_workbook_fixtures.py [output folder]
The tests read the committed output; they need neither Python nor LibreOffice.
"""
import datetime
import os
import shutil
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


def main():
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
    with open(os.path.join(OUT, "tab_utf8_bom.csv"), "wb") as f:
        f.write(b"\xef\xbb\xbf" + csv_text("\t").encode("utf-8"))
    source = os.path.join(OUT, "xlsxwriter.xlsx")
    libreoffice(source, OUT, "ods", "libreoffice.ods")
    add_active_table(os.path.join(OUT, "libreoffice.ods"), "Данные")
    libreoffice(source, OUT, 'xls:MS Excel 97', "libreoffice.xls")
    libreoffice(source, OUT, 'xlsx:Calc MS Excel 2007 XML', "libreoffice.xlsx")
    for name in sorted(os.listdir(OUT)):
        print("%-26s %6d bytes" % (name, os.path.getsize(os.path.join(OUT, name))))


if __name__ == "__main__":
    main()
