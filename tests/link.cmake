# Mixer link: OSC messages, fader addresses, the UDP link, the clock.
quorlen_test(osc_test LABELS unit SOURCES osc_test.cpp LIBS quorlen_link)
# The subscription the fade cycle sends is tested here too, over a real link.
quorlen_test(udp_test LABELS net SOURCES udp_test.cpp ${QUORLEN_SOCKET_SUPPORT} LIBS quorlen_app)
quorlen_test(clock_test LABELS unit SOURCES clock_test.cpp LIBS quorlen_link)
# oscdump (liblo-tools) decodes what the link sends; a Linux program, so native only.
if(NOT WIN32)
  quorlen_test(oscdump_test LABELS net SOURCES oscdump_test.cpp ${QUORLEN_SOCKET_SUPPORT} LIBS quorlen_link)
endif()
