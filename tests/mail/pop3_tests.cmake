# POP3 client tests. "unit": the reply parser and scripted
# hostile servers (python3 on loopback). "dovecot": a private Dovecot, started
# by the pop3_server fixture for the whole run and stopped after it.
kingyo_add_test(pop3_unit_test
  pop3_reply_parser_test.cpp pop3_hostile_server_test.cpp pop3_downgrade_test.cpp
  pop3_pipeline_window_test.cpp
  fake_pop3_server.cpp fake_pop3_server.h
  LABELS unit)
target_compile_definitions(pop3_unit_test PRIVATE
  KINGYO_FAKE_POP3_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/fake_pop3_server.py")
kingyo_add_test(mail_check_limits_test mail_check_limits_test.cpp fake_pop3_server.cpp fake_pop3_server.h LABELS unit)
target_compile_definitions(mail_check_limits_test PRIVATE
  KINGYO_FAKE_POP3_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/fake_pop3_server.py")

set(pop3_server_dir "${CMAKE_CURRENT_BINARY_DIR}/pop3-server")
add_test(NAME pop3_server_start COMMAND "${PROJECT_SOURCE_DIR}/scripts/test-pop3-server" start "${pop3_server_dir}")
add_test(NAME pop3_server_stop COMMAND "${PROJECT_SOURCE_DIR}/scripts/test-pop3-server" stop "${pop3_server_dir}")
set_tests_properties(pop3_server_start PROPERTIES FIXTURES_SETUP pop3_server LABELS dovecot)
set_tests_properties(pop3_server_stop PROPERTIES FIXTURES_CLEANUP pop3_server LABELS dovecot)

add_executable(pop3_dovecot_test pop3_dovecot_test.cpp test_pop3_server.cpp test_pop3_server.h)
target_link_libraries(pop3_dovecot_test PRIVATE kingyo_test_main)
target_compile_definitions(pop3_dovecot_test PRIVATE KINGYO_POP3_SERVER_DIR="${pop3_server_dir}")
gtest_discover_tests(pop3_dovecot_test
  DISCOVERY_MODE PRE_TEST
  PROPERTIES LABELS dovecot FIXTURES_REQUIRED pop3_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
