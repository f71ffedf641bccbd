"""A scripted fake iPhone behind a fake usbmuxd socket, for tests of the device code."""
