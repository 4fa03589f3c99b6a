# Run by cpack once the packages are built (CPACK_POST_BUILD_SCRIPTS). CMake 3.25 writes the
# -dbgsym package's md5sums with the absolute paths of its staging folder, so that dpkg and
# debsums can check none of its files, and gives it no documentation folder. Rebuilt here as
# Debian's own debug packages are: md5sums of paths inside the package, and the documentation
# folder a link to the main package's, whose copyright and changelog cover it.

foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "-dbgsym_.*\\.ddeb$")
    continue()
  endif()
  set(root "${ddeb}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${ddeb}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    file(MD5 "${root}/${f}" sum)
    string(APPEND sums "${sum}  ${f}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
  file(MAKE_DIRECTORY "${root}/usr/share/doc")
  file(CREATE_LINK "${CPACK_DEBIAN_PACKAGE_NAME}" "${root}/usr/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}-dbgsym"
       SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${root}" "${ddeb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
