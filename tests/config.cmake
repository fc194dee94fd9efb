# Integer parsing, the address-file reader, file access and starting programs.
quorlen_test(address_text_test LABELS unit SOURCES address_text_test.cpp LIBS quorlen_config)
quorlen_test(file_test LABELS unit SOURCES file_test.cpp LIBS quorlen_config)
quorlen_test(launch_test LABELS unit SOURCES launch_test.cpp LIBS quorlen_config)
if(WIN32)
  quorlen_test(win32_file_test LABELS unit SOURCES win32_file_test.cpp LIBS quorlen_config)
  quorlen_test(win32_launch_test LABELS unit SOURCES win32_launch_test.cpp LIBS quorlen_config)
endif()
