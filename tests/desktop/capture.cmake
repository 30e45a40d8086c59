# Desktop tests of the capture adapters, each in its own private session.
quenda_add_desktop_test(tst_x11hotkey tst_x11hotkey.cpp)
quenda_add_desktop_test(tst_audiocapture tst_audiocapture.cpp)
quenda_add_desktop_test(tst_linuxpermissions tst_linuxpermissions.cpp)
quenda_add_desktop_test(tst_speechaccuracy tst_speechaccuracy.cpp)
quenda_add_desktop_test(tst_capturecommands tst_capturecommands.cpp)
target_compile_definitions(tst_capturecommands PRIVATE QUENDA_BINARY="$<TARGET_FILE:quenda>")
add_dependencies(tst_capturecommands quenda)
quenda_use_test_models(tst_capturecommands)
