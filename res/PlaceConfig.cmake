# Beside a freshly built binary: the delivered config.txt, only when none is
# there yet (a rebuild never overwrites a user's saved server), and the marker
# that tells the program this folder is a build tree, so it uses that
# config.txt (config/ConfigLocation.h). Installing copies neither.
if(EXISTS "${SOURCE}" AND NOT EXISTS "${DEST}")
    file(COPY_FILE "${SOURCE}" "${DEST}")
endif()
if(MARKER AND NOT EXISTS "${MARKER}")
    file(WRITE "${MARKER}"
         "This folder is a Kavrel build tree: the programs here use the config.txt beside them.\n")
endif()
