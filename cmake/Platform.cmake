# Which operating-system files of platform/ are built. The callers never test the platform
# themselves: each OS folder implements the same small headers.
if(WIN32)
  set(STIQLET_OS windows)
else()
  set(STIQLET_OS x11)
endif()
