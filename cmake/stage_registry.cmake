# Stages the shipped registry file unless the install directory has one:
# a user's settings (and the port tools/run.sh saved) survive a rebuild.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()
