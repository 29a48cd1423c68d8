#!/bin/sh
# Regenerates the files the mass-send wizard tests read: text files, an Access database (mkmdb.py, beside
# this script), an Excel 97-2003 workbook (Perl Spreadsheet::WriteExcel), the same sheets as an .xlsx
# workbook (hand-written XML in a zip, python3) and as a CSV file, and damaged or mislabelled files.
# Run from anywhere: ./make-fixtures.sh
set -eu
cd "$(dirname "$0")"

# ---- Text files
printf '123\n\n  456  \n' > three-lines.txt
printf '111, 222,,333 ,\n' > separated.txt
printf '111;222\n' > semicolon-line.txt
: > empty.txt
printf '9888812121\n' > NUMBERS.TXT
printf '9888812121\r\n+442123234455\r\n9888812121' > duplicates.txt

# ---- Access database
cat > wizard-tables.json <<'JSON'
{"tables": [
 {"name": "Contacts",
  "columns": [["Mobile", "text"], ["SMS", "memo"], ["Id", "long"], ["Num", "double"]],
  "rows": [["9888812121", "Hello Asha", 1, 9888812121],
           [" +442123234455 ", "  Hi there  ", 2, 12.75],
           [null, "no number", 3, null],
           ["", "empty number", 4, null],
           ["   ", "blank number", 5, null],
           ["09812345678", "", 6, null],
           ["9888812121", null, 7, null]]},
 {"name": "My Contacts",
  "columns": [["Mobile No", "text"], ["Message Text", "memo"]],
  "rows": [["+91 98123 45678", "Hi"], ["9888812121", "Second"]]},
 {"name": "Kunden \u00dcbersicht",
  "columns": [["Telefon", "text"]],
  "rows": [["+4915112345678"]]},
 {"name": "Bulk",
  "columns": [["Phone", "text"], ["Note", "text"]],
  "rows": []}
]}
JSON
python3 - <<'PY'
import json
layout = json.load(open("wizard-tables.json", encoding="utf-8"))
bulk = [t for t in layout["tables"] if t["name"] == "Bulk"][0]
bulk["rows"] = [["98888%05d" % i, "note %d" % i] for i in range(320)]
json.dump(layout, open("wizard-tables.json", "w", encoding="utf-8"), ensure_ascii=False, indent=1)
PY
python3 mkmdb.py wizard.mdb wizard-tables.json

# ---- Excel workbook
perl - <<'PERL'
use strict;
use warnings;
use Spreadsheet::WriteExcel;
my $book = Spreadsheet::WriteExcel->new('wizard.xls') or die;
my $s = $book->add_worksheet('Contacts');
$s->write_string(0, 0, 'Mobile');
$s->write_string(0, 1, 'SMS');
$s->write_string(0, 2, 'Name');
$s->write_number(1, 0, 9888812121);  $s->write_string(1, 1, 'Hello Asha');  $s->write_string(1, 2, 'Asha');
$s->write_string(2, 0, '09812345678'); $s->write_string(2, 1, ' Hi ');      $s->write_string(2, 2, 'Ravi');
                                     $s->write_string(3, 1, 'no number');  $s->write_string(3, 2, 'Nobody');
$s->write_string(4, 0, '   ');       $s->write_string(4, 1, 'blank number');
$s->write_string(5, 0, '+442123234455');                                   $s->write_string(5, 2, 'No message');
$s->write_string(6, 0, '7777777777'); $s->write_string(6, 1, 'late one');
my $t = $book->add_worksheet('Second');
$t->write_string(0, 0, 'Phone');
$t->write_string(0, 1, 'Text');
$t->write_string(1, 0, '111');  $t->write_string(1, 1, 'first');
$t->write_number(2, 0, 12.5);   $t->write_string(2, 1, 'second');
$book->close();
PERL

# ---- Damaged and mislabelled files
python3 - <<'PY'
import random, zipfile
rnd = random.Random(20240229)
good = open("wizard.mdb", "rb").read()
open("garbage.mdb", "wb").write(bytes(rnd.randrange(256) for _ in range(20000)))
open("empty.mdb", "wb").write(b"")
open("text.mdb", "w").write("this is not a database\n")
open("truncated.mdb", "wb").write(good[:6000])
# the catalog's table definition page (page 2) overwritten with noise
b = bytearray(good); b[2 * 4096 + 8:3 * 4096] = bytes(rnd.randrange(256) for _ in range(4096 - 8))
open("broken-catalog.mdb", "wb").write(bytes(b))
# every page after the catalog overwritten with noise, the page headers kept
b = bytearray(good)
for p in range(3, len(good) // 4096):
    b[p * 4096 + 16:(p + 1) * 4096] = bytes(rnd.randrange(256) for _ in range(4096 - 16))
open("broken-pages.mdb", "wb").write(bytes(b))
# a few bytes changed in the data pages: listing works, reading the Contacts table crashes libmdb
r = random.Random(282)
b = bytearray(good)
for _ in range(r.choice([5, 20, 80])):
    at = r.randrange(4096 * 2, len(b))
    b[at] = r.randrange(256)
open("crash-on-read.mdb", "wb").write(bytes(b))
open("workbook.mdb", "wb").write(open("wizard.xls", "rb").read())
xls = open("wizard.xls", "rb").read()
open("truncated.xls", "wb").write(xls[:len(xls) // 2])
open("random.xls", "wb").write(bytes(rnd.randrange(256) for _ in range(8192)))
open("text.xls", "w").write("Mobile,SMS\n9888812121,Hello\n")
PY

# ---- The workbook's sheets as .xlsx and CSV, and damaged .xlsx and CSV files
python3 - <<'PY'
import random, zipfile
rnd = random.Random(20240229)
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

def rels(items):
    return HEAD + '<Relationships xmlns="%s">' % PKG + "".join(
        '<Relationship Id="%s" Type="%s/%s" Target="%s"/>' % i for i in items) + "</Relationships>"

def sheet(dimension, rows):
    return (HEAD + '<worksheet xmlns="%s" xmlns:r="%s"><dimension ref="%s"/><sheetData>' % (MAIN, REL, dimension)
            + "".join(rows) + "</sheetData></worksheet>")

def xlsx(path, sheets, shared, parts=None):
    # sheets: [(name, xml)]; shared: the <si> items; parts: replaced or extra parts
    files = {
        "[Content_Types].xml": HEAD + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/></Types>',
        "_rels/.rels": rels([("rId1", REL, "officeDocument", "xl/workbook.xml")]),
        "xl/workbook.xml": HEAD + '<workbook xmlns="%s" xmlns:r="%s"><sheets>' % (MAIN, REL) + "".join(
            '<sheet name="%s" sheetId="%d" r:id="rId%d"/>' % (n, i + 1, i + 1) for i, (n, _) in enumerate(sheets))
        + "</sheets></workbook>",
        "xl/_rels/workbook.xml.rels": rels([("rId%d" % (i + 1), REL, "worksheet", "worksheets/sheet%d.xml" % (i + 1))
                                            for i in range(len(sheets))]
                                           + [("rIdS", REL, "sharedStrings", "/xl/sharedStrings.xml")]),
        "xl/sharedStrings.xml": HEAD + '<sst xmlns="%s">' % MAIN + "".join(shared) + "</sst>",
    }
    for i, (_, xml) in enumerate(sheets):
        files["xl/worksheets/sheet%d.xml" % (i + 1)] = xml
    files.update(parts or {})
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():  # a fixed date keeps the files the same from run to run
            z.writestr(zipfile.ZipInfo(name, (2024, 2, 29, 12, 0, 0)), data, zipfile.ZIP_DEFLATED)

# Contacts and Second as in wizard.xls, written the ways Excel and other programs write cells: shared
# strings (one of them in rich text runs), inline strings, numbers, formulas with their stored results,
# and a row without a cell in the numbers column.
shared = ["<si><t>Mobile</t></si>", "<si><r><t>Na</t></r><r><rPr><b/></rPr><t>me</t></r></si>",
          "<si><t>Hello Asha</t></si>", "<si><t>09812345678</t></si>", "<si><t xml:space=\"preserve\">   </t></si>",
          "<si><t>111</t></si>"]
contacts = sheet("A1:C7", [
    '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="inlineStr"><is><t>SMS</t></is></c>'
    '<c r="C1" t="s"><v>1</v></c></row>',
    '<row r="2"><c r="A2"><v>9888812121</v></c><c r="B2" t="s"><v>2</v></c>'
    '<c r="C2" t="str"><f>"Asha"</f><v>Asha</v></c></row>',
    '<row r="3"><c r="A3" t="s"><v>3</v></c><c r="B3" t="inlineStr"><is><t xml:space="preserve"> Hi </t></is></c>'
    '<c r="C3" t="inlineStr"><is><t>Ravi</t></is></c></row>',
    '<row r="4"><c r="B4" t="inlineStr"><is><t>no number</t></is></c>'
    '<c r="C4" t="inlineStr"><is><t>Nobody</t></is></c></row>',
    '<row r="5"><c r="A5" t="s"><v>4</v></c><c r="B5" t="inlineStr"><is><t>blank number</t></is></c></row>',
    '<row r="6"><c r="A6" t="inlineStr"><is><t>+442123234455</t></is></c>'
    '<c r="C6" t="inlineStr"><is><t>No message</t></is></c></row>',
    '<row r="7"><c r="A7"><f>7777777777</f><v>7777777777</v></c><c t="inlineStr"><is><t>late one</t></is></c></row>'])
second = sheet("A1:B3", [
    '<row r="1"><c r="A1" t="inlineStr"><is><t>Phone</t></is></c><c r="B1" t="inlineStr"><is><t>Text</t></is></c></row>',
    '<row r="2"><c r="A2" t="s"><v>5</v></c><c r="B2" t="inlineStr"><is><t>first</t></is></c></row>',
    '<row r="3"><c r="A3"><v>12.5</v></c><c r="B3" t="inlineStr"><is><t>second</t></is></c></row>'])
xlsx("wizard.xlsx", [("Contacts", contacts), ("Second", second)], shared)
# A semicolon-separated export of Contacts with a byte-order mark, quotes and Windows line ends.
open("Contacts.csv", "wb").write("\ufeffMobile;SMS;Name\r\n9888812121;Hello Asha;Asha\r\n\"09812345678\";\" Hi \";Ravi\r\n"
                                 ";no number;Nobody\r\n   ;blank number;\r\n+442123234455;;\"No message\"\r\n"
                                 "7777777777;late one;\r\n".encode("utf-8"))

good = open("wizard.xlsx", "rb").read()
open("truncated.xlsx", "wb").write(good[:len(good) // 2])
xlsx("no-sheets.xlsx", [], [])
xlsx("bad-workbook.xlsx", [("Contacts", contacts)], shared,
     {"xl/workbook.xml": HEAD + '<workbook xmlns="%s"><sheets><sheet name="Contacts"' % MAIN})
# The sheet breaks off in its last row, after the records the preview shows: the rows before it are read,
# then the damage is reported.
xlsx("bad-sheet.xlsx", [("Contacts", contacts[:contacts.index('<row r="7">')] + '<row r="7"><c r="A7"><v>1</c>')],
     shared)
# A sheet that would inflate to 40 MB of blanks from a few kilobytes.
xlsx("bomb.xlsx", [("Contacts", sheet("A1:C7", ['<row r="1"><c r="A1" t="s"><v>0</v></c></row>', " " * (40 << 20)]))],
     shared)
# Numbers written in several ways, each message with its number.
open("duplicates.csv", "w").write("Mobile,SMS\n98888 12121,first\n+44 21 23,kept\n9888812121,second\n"
                                  "988.88-12121,third\n+442123,gone\n 9888812121 ,\n")
open("binary.csv", "wb").write(bytes(rnd.randrange(256) for _ in range(4096)))
PY
echo "fixtures written"
