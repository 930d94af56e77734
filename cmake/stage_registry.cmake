# Stages the shipped registry file unless the install directory has one:
# a user's settings (and the port tools/run.sh saved) survive a rebuild.
# The file holds passwords (realm users, MasterPassword), so only its
# owner may read it; the store keeps that mode on every rewrite.
if(NOT EXISTS "${DST}")
  file(COPY_FILE "${SRC}" "${DST}")
  file(CHMOD "${DST}" PERMISSIONS OWNER_READ OWNER_WRITE)
endif()
