# Desktop tests of the capture adapters, each in its own private session.
quenda_add_desktop_test(tst_x11hotkey tst_x11hotkey.cpp)
quenda_add_desktop_test(tst_audiocapture tst_audiocapture.cpp)
