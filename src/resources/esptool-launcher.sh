#!/bin/sh
# Runs the esptool package that ships in python/ beside this file with the system's Python 3.
# -I isolates it: PYTHONPATH, PYTHONHOME, PYTHONSTARTUP, the user's site-packages and the
# current folder cannot replace or shadow the code that talks to the chip.
here=$(dirname -- "$0")
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" -I -c 'import sys; sys.path.insert(0, sys.argv.pop(1)); sys.argv[0] = "esptool"; import esptool; esptool._main()' "$here/python" "$@"
