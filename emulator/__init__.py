"""The emulated camera: a device root, a private system bus with mock device
services, the device HTTP API on loopback and busybox userland tools."""
