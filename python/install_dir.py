"""Prints the folder this interpreter imports platform modules from for an install prefix.

Debian's Python looks in dist-packages under /usr (deb_system) and /usr/local
(posix_local, based at /usr), in the user site under the user base
($HOME/.local), and in lib/pythonX.Y/site-packages under any other prefix.
"""
import site
import sys
import sysconfig

prefix = sys.argv[1].rstrip("/") or "/"
schemes = sysconfig.get_scheme_names()
if prefix == site.getuserbase().rstrip("/"):
    print(site.getusersitepackages())
    sys.exit(0)
if prefix == "/usr/local" and "posix_local" in schemes:
    scheme, base = "posix_local", "/usr"  # {base}/local/lib/pythonX.Y/dist-packages
elif prefix == "/usr" and "deb_system" in schemes:
    scheme, base = "deb_system", prefix  # /usr/lib/python3/dist-packages
else:
    scheme, base = "posix_prefix", prefix
print(sysconfig.get_path("platlib", scheme, vars={"base": base, "platbase": base}))
