"""Facts about the product that tests check against, in one place."""

CLSID = "{6DF5EC40-6B6B-49E0-B5D9-8AE466B02026}"
IID = "{BC6D203F-91E0-45B3-82AB-BA7F5E90E554}"
LIBID = "{90479F93-E136-42D0-92D7-9261CFE1719D}"
PROGID = "VellumSetup.controller"

# Every key the server's registration owns, below Software\Classes of
# HKLM (machine-wide) or HKCU (per user).
COM_KEYS = ("CLSID\\" + CLSID, PROGID, "TypeLib\\" + LIBID, "Interface\\" + IID)
COM_ROOTS = ("HKLM", "HKCU")
