# The folder service's installer that a case puts beside the installer.
add_dependencies(${name} shfolder_standin)
