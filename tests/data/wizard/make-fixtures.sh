#!/bin/sh
# Regenerates the files the mass-send wizard tests read: text files, an Access database (mkmdb.py, beside
# this script), an Excel 97-2003 workbook (Perl Spreadsheet::WriteExcel) and damaged or mislabelled files.
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
with zipfile.ZipFile("newer.xlsx", "w") as z:
    z.writestr("[Content_Types].xml", '<?xml version="1.0"?><Types/>')
    z.writestr("xl/workbook.xml", '<?xml version="1.0"?><workbook/>')
PY
echo "fixtures written"
