#!/usr/bin/python3
# Prints the first worksheet of a workbook, a line per row and a tab between cells, each cell
# as its type (S text, N number, T time) and the text a spreadsheet shows for it. Used by the
# report tests to read the program's workbooks with another reader (openpyxl).
import datetime
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
for row in sheet.iter_rows():
    cells = []
    for cell in row:
        v = cell.value
        if v is None:
            cells.append("")
        elif isinstance(v, (datetime.datetime, datetime.time)):
            cells.append("T" + v.strftime("%H:%M:%S"))
        elif isinstance(v, (int, float)):
            fmt = cell.number_format
            decimals = len(fmt.split(".")[1]) if "." in fmt else 0
            cells.append("N" + "%.*f" % (decimals, v))
        else:
            cells.append("S" + str(v))
    sys.stdout.write("\t".join(cells) + "\n")
