"""nebla-windows.zip holds, in its folder, the three programs, the README
with the Windows guide it links to, and the licence (the text of LICENSE).

usage: zip_test.py ZIP SOURCE_DIR
"""
import sys
import zipfile

archive, source = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    names = sorted(n for n in z.namelist() if not n.endswith("/"))
    licence = z.read("nebla-windows/LICENSE.txt") if "nebla-windows/LICENSE.txt" in names else b""
expected = sorted("nebla-windows/" + n for n in
                  ["nebla.exe", "Nebla.scr", "nebla-capture.exe", "README.md", "docs/windows.md", "LICENSE.txt"])
failures = []
if names != expected:
    failures.append(f"the zip holds {names}, not {expected}")
with open(f"{source}/LICENSE", "rb") as f:
    if licence != f.read():
        failures.append("LICENSE.txt is not the text of LICENSE")
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
