#!/usr/bin/env python3
"""Names every writable file-level variable of the installer's libraries that lies outside the
run-state section (platform/run_state.h), and so would outlive one run of the installer into
the next in the same process. Arguments: objdump, then the libraries."""
import subprocess
import sys

# Kept from run to run on purpose, with the reason.
KEPT = {
    # The build writes the release's digests into it after linking, and tests fill it: it
    # describes the program, not a run.
    "ReleaseManifest",
    # The run state's own image at start, which the reset copies back.
    "StartImage",
}

objdump, libraries = sys.argv[1], sys.argv[2:]
left_out = []
marked = 0
for library in libraries:
    member = library
    table = subprocess.run([objdump, "-t", "-C", library], check=True, capture_output=True,
                           text=True).stdout
    for line in table.splitlines():
        if "file format" in line:
            member = line.split(":")[0]
            continue
        flags, tab, rest = line.partition("\t")
        if not tab or " O " not in flags:
            continue
        section, name = flags.split()[-1], rest.split(None, 1)[1]
        writable = section.startswith((".data", ".bss", ".tdata", ".tbss", "*COM*")) \
            and not section.startswith(".data.rel.ro")
        marked += section == "run_state"
        # __odr_asan: the address sanitizer's own marks.
        if writable and name not in KEPT and not name.startswith("__odr_asan"):
            left_out.append(f"{member}: {name} ({section})")
if left_out:
    print("writable and not reset between runs (mark it RUN_STATE):")
    print("\n".join(left_out))
print(f"{marked} variables in the run-state section")
sys.exit(1 if left_out or not marked else 0)
