"""The shipped 32-bit program's SHA-instruction rounds realign the stack
before they spill vectors: a 32-bit Windows thread's stack is only 4-byte
aligned, and an aligned store to a misaligned slot faults. Read from the
compiled 32-bit code, so that it holds also where no 32-bit code can run
(usage: test_sha_stack_alignment.py WINDOWS_BUILD)."""
import os
import re
import subprocess
import sys

library = os.path.join(os.path.abspath(sys.argv[1]), "libtembra_core.a")
listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", library], capture_output=True,
                         text=True, check=True).stdout
match = re.search(r"<[^>]*CompressShaInstructions[^>]*>:\n((?:.*\n){1,12})", listing)
if not match:
    print(f"FAILED: no SHA-instruction rounds in {library}")
    sys.exit(1)
prologue = match.group(1)
realigned = re.search(r"\band\s+\$0xfffffff0,%esp", prologue) is not None
vectors = re.search(r"sha256rnds2", listing) is not None
print(f"{'ok' if realigned and vectors else 'FAILED'}: the rounds use sha256rnds2 ({vectors}) and align %esp to "
      f"16 bytes on entry ({realigned})\n{prologue}")
sys.exit(0 if realigned and vectors else 1)
