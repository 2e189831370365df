#!/usr/bin/python3
"""quorin_calc.py - recalculates workbooks in LibreOffice Calc with quorin.oxt installed, every formula
(built-ins included), on an office of its own: a throwaway profile, its own soffice, stopped on every path.

usage: quorin_calc.py check BOOK.xlsx... [--tolerance ULPS] [--oxt FILE]
       quorin_calc.py recalc IN OUT [--oxt FILE]
       quorin_calc.py values BOOK... [--oxt FILE]

check   compares every formula cell Calc computes with the value the file cached; prints the same report
        as quorin-host check and exits 0 when all match, 1 when any differs or a book cannot be checked.
recalc  writes the recalculated copy (.xlsx or .ods, by OUT's name). Calc rounds saved numbers to 15
        significant digits; read the doubles themselves with check or values.
values  prints each formula cell as SHEET!CELL<TAB>VALUE: the double in Python's shortest exact form,
        the error as the other spreadsheet names it (#VALUE!, #NUM!, ...; #ERR999 for ours), or "text".
quorin.oxt defaults to the one beside this script. Bad input, or an office that does not start: a
message and exit 1; usage errors exit 2.
"""

import contextlib
import os
import pwd
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
import zipfile

OFFICE = "/usr/lib/libreoffice/program"
START_SECONDS = 90  # the first start of a fresh profile takes several seconds on a loaded machine
FILTERS = {".xlsx": "Calc Office Open XML", ".ods": "calc8"}
# Calc's error codes as the other spreadsheet names them, for comparing with cached error values.
CALC_ERRORS = {519: "#VALUE!", 503: "#NUM!", 532: "#DIV/0!", 32767: "#N/A", 525: "#NAME?", 524: "#REF!",
               502: "#VALUE!", 504: "#VALUE!"}
MAIN_NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL_NS = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
PACKAGE_REL_NS = "{http://schemas.openxmlformats.org/package/2006/relationships}"


class Refusal(Exception):
    """A failure the user caused or the office had: the message is printed, the exit status is 1."""


def office_user():
    """The account soffice and unopkg run as: the caller, or nobody when the caller is root, since
    unopkg refuses to install into a profile as root."""
    if os.geteuid() != 0:
        return None
    return pwd.getpwnam("nobody")


class PrivateOffice:
    """A soffice on a profile in a temporary folder, with quorin.oxt installed, reached over a local
    socket. Its process group is killed on every way out, so no office outlives the command."""

    def __init__(self, oxt):
        self.oxt = oxt
        self.user = office_user()
        self.folder = tempfile.mkdtemp(prefix="quorin-calc-")
        os.chmod(self.folder, 0o755)
        self.home = os.path.join(self.folder, "home")
        self.work = os.path.join(self.folder, "work")
        for folder in (self.home, self.work):
            os.mkdir(folder)
            if self.user is not None:
                os.chown(folder, self.user.pw_uid, self.user.pw_gid)
        self.profile = "file://" + os.path.join(self.home, "profile")
        self.process = None
        self.desktop = None

    def command(self, arguments):
        prefix = []
        if self.user is not None:
            prefix = ["setpriv", "--reuid=%d" % self.user.pw_uid, "--regid=%d" % self.user.pw_gid, "--clear-groups"]
        return prefix + arguments

    def environment(self):
        environment = dict(os.environ, HOME=self.home, TMPDIR=self.work)
        environment.pop("SAL_USE_VCLPLUGIN", None)
        return environment

    def run(self, arguments, what):
        """Runs a short office tool in a session of its own, killed whole if it overruns."""
        process = subprocess.Popen(self.command(arguments), env=self.environment(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            output, _ = process.communicate(timeout=START_SECONDS)
        except subprocess.TimeoutExpired:
            kill_group(process)
            raise Refusal("%s did not finish in %d s" % (what, START_SECONDS))
        finally:
            kill_group(process)
        if process.returncode != 0:
            raise Refusal("%s failed (exit %d): %s" % (what, process.returncode, output.decode(errors="replace").strip()))

    def start(self):
        soffice = os.path.join(OFFICE, "soffice")
        unopkg = os.path.join(OFFICE, "unopkg")
        if not os.path.exists(soffice):
            raise Refusal("soffice not found in %s: install libreoffice-calc-nogui" % OFFICE)
        profile = "-env:UserInstallation=" + self.profile
        # The office must create the profile before unopkg adds to it, or its first start drops the extension.
        self.run([soffice, "--headless", "--norestore", "--terminate_after_init", profile], "creating the office profile")
        set_recalc_mode(os.path.join(self.home, "profile", "user", "registrymodifications.xcu"))
        # A copy in the folder the office's account owns: the build tree may not be readable by nobody.
        package = os.path.join(self.work, "quorin.oxt")
        shutil.copyfile(self.oxt, package)
        os.chmod(package, 0o644)
        self.run([unopkg, "add", "--suppress-license", profile, package], "installing " + self.oxt)

        port = free_port()
        accept = "--accept=socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % port
        self.process = subprocess.Popen(self.command([soffice, "--headless", "--invisible", "--nologo", "--norestore",
                                                      "--nodefault", "--nolockcheck", profile, accept]),
                                        env=self.environment(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            import uno  # pylint: disable=import-outside-toplevel
        except ImportError:
            raise Refusal("the office's Python bridge is missing: install python3-uno and run with /usr/bin/python3")
        resolver = uno.getComponentContext().ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", uno.getComponentContext())
        deadline = time.monotonic() + START_SECONDS
        while True:
            try:
                context = resolver.resolve("uno:socket,host=127.0.0.1,port=%d;urp;StarOffice.ComponentContext" % port)
                break
            except Exception:  # the office is not listening yet
                if self.process.poll() is not None:
                    raise Refusal("soffice stopped while starting (exit %d)" % self.process.returncode)
                if time.monotonic() > deadline:
                    raise Refusal("soffice did not start in %d s" % START_SECONDS)
                time.sleep(0.25)
        self.context = context
        self.desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)

    def stop(self):
        if self.desktop is not None:
            with contextlib.suppress(Exception):
                self.desktop.terminate()
            self.desktop = None
        if self.process is not None:
            with contextlib.suppress(subprocess.TimeoutExpired):
                self.process.wait(timeout=5)
            kill_group(self.process)
            self.process = None
        shutil.rmtree(self.folder, ignore_errors=True)

    def load(self, path):
        """The workbook at path, opened hidden from a copy the office's account can read."""
        extension = os.path.splitext(path)[1].lower()
        if extension not in FILTERS:
            raise Refusal("%s: not a workbook Calc reads here (.xlsx or .ods)" % path)
        copy = os.path.join(self.work, "in" + extension)
        shutil.copyfile(path, copy)
        os.chmod(copy, 0o644)
        document = None
        with contextlib.suppress(Exception):
            document = self.desktop.loadComponentFromURL(
                "file://" + copy, "_blank", 0,
                properties(Hidden=True, FilterName=FILTERS[extension], MacroExecutionMode=0))
        if document is None or not document.supportsService("com.sun.star.sheet.SpreadsheetDocument"):
            if document is not None:
                document.close(True)
            raise Refusal("%s: not a workbook Calc can open" % path)
        return document

    def save(self, document, path):
        extension = os.path.splitext(path)[1].lower()
        if extension not in FILTERS:
            raise Refusal("%s: Calc writes .xlsx or .ods here" % path)
        copy = os.path.join(self.work, "out" + extension)
        document.storeToURL("file://" + copy, properties(FilterName=FILTERS[extension]))
        shutil.copyfile(copy, path)


def kill_group(process):
    with contextlib.suppress(ProcessLookupError, PermissionError):
        os.killpg(process.pid, signal.SIGKILL)
    with contextlib.suppress(Exception):
        process.wait(timeout=10)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def properties(**values):
    import uno  # pylint: disable=import-outside-toplevel
    result = []
    for name, value in values.items():
        item = uno.createUnoStruct("com.sun.star.beans.PropertyValue")
        item.Name, item.Value = name, value
        result.append(item)
    return tuple(result)


def set_recalc_mode(path):
    """No recalculation on load for .xlsx and .ods: the command recalculates every formula once itself,
    so that each random draw happens once, in the order a full recalculation takes, and headless Calc
    never asks whether to recalculate."""
    items = "".join(
        '<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="%s" oor:op="fuse">'
        '<value>%s</value></prop></item>' % (name, 1) for name in ("OOXMLRecalcMode", "ODFRecalcMode"))
    with open(path, encoding="utf-8") as settings:
        text = settings.read()
    if "</oor:items>" not in text:
        raise Refusal("the new office profile has no settings file to change")
    with open(path, "w", encoding="utf-8") as settings:
        settings.write(text.replace("</oor:items>", items + "</oor:items>"))


def column_name(column):
    name = ""
    column += 1
    while column:
        column, rest = divmod(column - 1, 26)
        name = chr(65 + rest) + name
    return name


def formula_cells(document):
    """Every formula cell after a full recalculation: (sheet, row, column, formula, value), the value a
    float, ("error", code) or ("text", string)."""
    from com.sun.star.sheet.CellFlags import FORMULA  # pylint: disable=import-outside-toplevel
    from com.sun.star.table.CellContentType import TEXT  # pylint: disable=import-outside-toplevel
    document.calculateAll()
    cells = []
    sheets = document.Sheets
    for s in range(sheets.Count):
        sheet = sheets.getByIndex(s)
        ranges = sheet.queryContentCells(FORMULA)
        for address in ranges.RangeAddresses:
            for row in range(address.StartRow, address.EndRow + 1):
                for column in range(address.StartColumn, address.EndColumn + 1):
                    cell = sheet.getCellByPosition(column, row)
                    if cell.getError() != 0:
                        value = ("error", cell.getError())
                    elif cell.FormulaResultType2 == TEXT:
                        value = ("text", cell.String)
                    else:
                        value = cell.Value
                    cells.append((sheet.Name, row, column, cell.Formula, value))
    cells.sort(key=lambda c: (sheet_index(document, c[0]), c[1], c[2]))
    return cells


def sheet_index(document, name):
    return list(document.Sheets.ElementNames).index(name)


def shown(value):
    if isinstance(value, float):
        return repr(value)
    if value is None:
        return "(nothing)"
    kind, content = value
    if kind == "error":
        # A file's cached error is its text already; Calc's is a code.
        return content if isinstance(content, str) else CALC_ERRORS.get(content, "#ERR%d" % content)
    return '"%s"' % content


def cached_values(path):
    """Each formula cell's cached value in the .xlsx at path: {(sheet, row, column): value}, shaped as
    formula_cells answers, read from the file's own XML (exact doubles; the office rounds on save)."""
    values = {}
    try:
        with zipfile.ZipFile(path) as archive:
            names = set(archive.namelist())
            strings = []
            if "xl/sharedStrings.xml" in names:
                for item in ElementTree.fromstring(archive.read("xl/sharedStrings.xml")).iter(MAIN_NS + "si"):
                    strings.append("".join(t.text or "" for t in item.iter(MAIN_NS + "t")))
            workbook = ElementTree.fromstring(archive.read("xl/workbook.xml"))
            relations = ElementTree.fromstring(archive.read("xl/_rels/workbook.xml.rels"))
            targets = {r.get("Id"): r.get("Target") for r in relations.iter(PACKAGE_REL_NS + "Relationship")}
            for sheet in workbook.iter(MAIN_NS + "sheet"):
                target = targets[sheet.get(REL_NS + "id")]
                part = target.lstrip("/") if target.startswith("/") else "xl/" + target
                for cell in ElementTree.fromstring(archive.read(part)).iter(MAIN_NS + "c"):
                    values[(sheet.get("name"),) + cell_position(cell.get("r"))] = cell_value(cell, strings)
    except (OSError, KeyError, zipfile.BadZipFile, ElementTree.ParseError, ValueError) as problem:
        raise Refusal("%s: not a workbook: %s" % (path, problem))
    return values


def cell_position(reference):
    letters = reference.rstrip("0123456789")
    column = 0
    for letter in letters:
        column = column * 26 + (ord(letter) - 64)
    return int(reference[len(letters):]) - 1, column - 1


def cell_value(cell, strings):
    kind = cell.get("t", "n")
    v = cell.find(MAIN_NS + "v")
    if v is None or v.text is None:
        return None
    if kind == "n":
        return float(v.text)
    if kind == "b":
        return 1.0 if v.text == "1" else 0.0
    if kind == "e":
        return ("error", v.text)
    if kind == "s":
        return ("text", strings[int(v.text)])
    return ("text", v.text)


def ulps_apart(a, b):
    def ordered(x):
        bits = struct.unpack("<q", struct.pack("<d", x))[0]
        return bits if bits >= 0 else -(bits & 0x7FFFFFFFFFFFFFFF)
    return abs(ordered(a) - ordered(b))


# The error values an .xlsx file can hold; any other (our #ERR999) is saved as #N/A by both spreadsheets.
STORABLE_ERRORS = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA"}


def stored(value):
    text = shown(value)
    if isinstance(value, tuple) and value[0] == "error" and text not in STORABLE_ERRORS:
        return "#N/A"
    return text


def agree(cached, computed, tolerance):
    if isinstance(cached, float) and isinstance(computed, float):
        return ulps_apart(cached, computed) <= tolerance
    return stored(cached) == stored(computed)


def how_far(cached, computed):
    if isinstance(cached, float) and isinstance(computed, float):
        n = ulps_apart(cached, computed)
        return "%d %s apart" % (n, "ulp" if n == 1 else "ulps")
    same_kind = type(cached) is type(computed) and (not isinstance(cached, tuple) or cached[0] == computed[0])
    return "not the same value" if same_kind else "another kind of value"


def check_one(office, path, tolerance):
    if not path.lower().endswith(".xlsx"):
        raise Refusal("%s: check compares .xlsx workbooks" % path)
    cached = cached_values(path)
    document = office.load(path)
    try:
        cells = formula_cells(document)
    finally:
        document.close(True)
    differing = []
    for sheet, row, column, formula, value in cells:
        if not agree(cached.get((sheet, row, column)), value, tolerance):
            differing.append((sheet, row, column, formula, value))
    print("%s %s" % ("same  " if not differing else "DIFFER", path))
    for sheet, row, column, formula, value in differing:
        before = cached.get((sheet, row, column))
        print("    %s!%s%d  %s  cached %s  computed %s  (%s)" % (sheet, column_name(column), row + 1, formula,
                                                             shown(before), shown(value), how_far(before, value)))
    print("%s: %d cells recomputed, %d matching, %d differing; 0 formulas stale; 0 formulas kept their cached value (no add-in call)"
          % (path, len(cells), len(cells) - len(differing), len(differing)))
    return 0 if not differing else 1


def usage():
    sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
    return 2


def main(arguments):
    here = os.path.dirname(os.path.abspath(__file__))
    oxt = os.path.join(here, "quorin.oxt")
    tolerance = 0
    positional = []
    k = 0
    while k < len(arguments):
        if arguments[k] in ("--oxt", "--tolerance") and k + 1 < len(arguments):
            if arguments[k] == "--oxt":
                oxt = arguments[k + 1]
            elif arguments[k + 1].isdigit():
                tolerance = int(arguments[k + 1])
            else:
                sys.stderr.write("check: --tolerance takes a whole number of ulps\n")
                return 2
            k += 2
        else:
            positional.append(arguments[k])
            k += 1
    if not positional or positional[0] not in ("check", "recalc", "values"):
        return usage()
    command, books = positional[0], positional[1:]
    if not books or (command == "recalc" and len(books) != 2):
        return usage()
    for path in ([oxt] + (books[:1] if command == "recalc" else books)):
        if not os.path.isfile(path):
            sys.stderr.write("%s: no such file\n" % path)
            return 1

    if command == "recalc":
        return with_office(oxt, lambda office: recalc_one(office, books[0], books[1]))
    status = 0
    for path in books:
        if command == "check":
            book_status = with_office(oxt, lambda office, path=path: check_or_fail(office, path, tolerance))
        else:
            book_status = with_office(oxt, lambda office, path=path: print_values(office, path))
        status = max(status, book_status)
    return status


def with_office(oxt, work):
    """work(office) on an office of its own: the generator of random numbers starts afresh for each
    workbook, as it does in quorin-host, and nothing of one book's run reaches the next."""
    # A signal ends the command through the same cleanup as any other way out.
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, lambda *_: sys.exit(1))
    office = PrivateOffice(os.path.abspath(oxt))
    try:
        office.start()
        return work(office)
    except Refusal as refusal:
        sys.stderr.write("%s\n" % refusal)
        return 1
    finally:
        office.stop()


def check_or_fail(office, path, tolerance):
    try:
        return check_one(office, path, tolerance)
    except Refusal as refusal:
        sys.stderr.write("%s\n" % refusal)
        print("FAILED %s" % path)
        return 1


def recalc_one(office, path, out):
    document = office.load(path)
    try:
        document.calculateAll()
        office.save(document, out)
    finally:
        document.close(True)
    return 0


def print_values(office, path):
    document = office.load(path)
    try:
        for sheet, row, column, _, value in formula_cells(document):
            print("%s!%s%d\t%s" % (sheet, column_name(column), row + 1, shown(value)))
    finally:
        document.close(True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
