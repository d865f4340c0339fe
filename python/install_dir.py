"""Prints the folder this interpreter imports platform modules from for an install prefix."""
import sys
import sysconfig

prefix = sys.argv[1].rstrip("/") or "/"
schemes = sysconfig.get_scheme_names()
if prefix == "/usr/local" and "posix_local" in schemes:
    scheme, base = "posix_local", "/usr"  # Debian: {base}/local/lib/pythonX.Y/dist-packages
elif prefix == "/usr" and "deb_system" in schemes:
    scheme, base = "deb_system", prefix
else:
    scheme, base = "posix_prefix", prefix
print(sysconfig.get_path("platlib", scheme, vars={"base": base, "platbase": base}))
