"""A /RegServer that fails beside another copy of VellumSetup leaves that
copy's registration exactly as it was. The fault is real: a key of the other
copy's machine-wide registration refuses writes (its access list denies
them), and so does this user's class key, so the attempt fails machine-wide
and for the user. Judged by the registry afterwards, key by key and byte
by byte."""

import os
import shutil
import unittest

from harness import product
from harness import winetest as wt

CLSID = product.CLSID
CLASSES = list(product.COM_KEYS)
# Everyone may do anything but write values or create subkeys.
DENY_WRITES = "D:(D;;0x6;;;WD)(A;;KA;;;WD)"
ALLOW_ALL = "D:(A;;KA;;;WD)"


def tree(root):
    """Every key and value of a registration's keys under root\\Software\\Classes."""
    out = {}
    for k in CLASSES:
        try:
            out.update(wt.inspector("regtree", "--key", root + "\\Software\\Classes\\" + k))
        except wt.InspectorError as e:
            if e.code != 2:
                raise
    return out


class FailedRegistrationBesideAnotherCopy(wt.WineTestCase):
    def copy(self, name):
        folder = os.path.join(self.tmp, name)
        os.makedirs(folder)
        shutil.copy2(wt.program("VellumSetup"), folder)
        return os.path.join(folder, "VellumSetup.exe")

    def deny(self, key):
        wt.inspector("regacl", "--key", key, "--sddl", DENY_WRITES)
        self.addCleanup(wt.reg_delete, key)
        self.addCleanup(wt.inspector, "regacl", "--key", key, "--sddl", ALLOW_ALL)

    def test_other_copys_registration_is_left_exactly_as_it_was(self):
        other, ours = self.copy("other"), self.copy("ours")
        self.assertEqual(wt.run(other, ["/RegServer"], timeout=60).code, 0)
        self.addCleanup(wt.run, other, ["/UnregServer"], timeout=60)
        machine = tree("HKLM")
        self.assertIn('"%s"' % wt.to_windows(other),
                      bytes.fromhex(machine["software\\classes\\clsid\\%s\\localserver32" % CLSID.lower()][0]
                                    .split(":")[1]).decode("utf-16-le"))
        # Written after the server's path: the attempt has changed something when it is refused.
        self.deny("HKLM\\Software\\Classes\\CLSID\\%s\\Version" % CLSID)
        self.deny("HKCU\\Software\\Classes\\CLSID\\%s" % CLSID)
        user = tree("HKCU")

        for args in (["/RegServer"], ["/RegServer", "/Run:rollback-test"]):
            with self.subTest(args=args):
                self.assertEqual(wt.run(ours, args, timeout=60).code, 2)
                self.assertEqual(tree("HKLM"), machine)
                self.assertEqual(tree("HKCU"), user)
        # The other copy still serves: its registration is whole.
        self.assertEqual(wt.run(ours, ["/UnregServer"], timeout=60).code, 0)
        self.assertEqual(tree("HKLM"), machine)


if __name__ == "__main__":
    unittest.main()
