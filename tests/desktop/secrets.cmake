# Desktop tests of the secrets adapter, in three situations (one executable, three environments).
quenda_add_desktop_test(tst_secretservice ${CMAKE_CURRENT_LIST_DIR}/tst_secretservice.cpp)
# A private session with an unlocked GNOME Keyring and nothing else.
set_tests_properties(tst_secretservice PROPERTIES ENVIRONMENT "SESSION_PARTS=keyring;QUENDA_SECRETS_EXPECT=keyring")
# A desktop session (X server) whose keyring does not run: the bus may start one on demand, which can only
# prompt; every call still ends within its timeout and the store falls back to the file when it must.
add_test(NAME tst_secretservice_nokeyring
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/session.sh run $<TARGET_FILE:tst_secretservice>)
set_tests_properties(tst_secretservice_nokeyring PROPERTIES TIMEOUT 300 LABELS desktop
                     ENVIRONMENT "SESSION_PARTS=x11;QUENDA_SECRETS_EXPECT=no-keyring")
# A session bus that offers no Secret Service at all.
add_test(NAME tst_secretservice_noservice
         COMMAND dbus-run-session --config-file=${CMAKE_CURRENT_LIST_DIR}/no-secret-service-bus.conf --
                 $<TARGET_FILE:tst_secretservice>)
set_tests_properties(tst_secretservice_noservice PROPERTIES TIMEOUT 120 LABELS desktop
                     ENVIRONMENT "QUENDA_SECRETS_EXPECT=no-service")
