# Message files: the writer's plain output must read as UTF-16 text with the
# host's iconv. The writer case makes the file in the test's working directory;
# the iconv case, which needs it, converts it and compares with the expected
# UTF-8 bytes: é is C3 A9, € is E2 82 AC.
add_test(NAME message_iconv_write
         COMMAND ${name} --gtest_filter=Message.WriterMakesUtf16TextForIconv
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name})
set_tests_properties(message_iconv_write PROPERTIES FIXTURES_SETUP message_iconv_file TIMEOUT 120)
add_test(NAME message_iconv_read
         COMMAND sh -c "set -e; rm -f iconv.out; iconv -f UTF-16 -t UTF-8 iconv_plain.msg > iconv.out; printf '[GREETING]\\nH\\303\\251llo \\342\\202\\254\\r\\n[EMPTY]\\n\\n[END_OF_FILE]' | cmp - iconv.out"
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/run/${name})
set_tests_properties(message_iconv_read PROPERTIES FIXTURES_REQUIRED message_iconv_file)
