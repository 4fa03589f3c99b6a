# Runs at install time (cmake --install, cpack): the desktop entries name the launcher and the
# demo exercise by absolute path, and the prefix is known only now. Expects
# PIRVEL_ENTRIES_SOURCE (the templates), PIRVEL_ENTRIES_BINARY (where to write them) and the
# GNUInstallDirs places PIRVEL_LIBEXECDIR and PIRVEL_DATADIR (under the prefix unless absolute).

# One argument of an entry's Exec line: quoted when it holds anything but plain path letters,
# with the escapes of the quoting and then of the string it stands in.
function(pirvel_exec_arg out value)
  # GLib cannot find a program whose path holds a "%", even written as "%%".
  if(value MATCHES "[\n\r\t%]")
    message(FATAL_ERROR "A desktop entry cannot name a path with a line break, tab or %: "
                        "${value}")
  endif()
  set(arg "${value}")
  if(NOT arg MATCHES "^[A-Za-z0-9/._+,:@-]+$")
    string(REPLACE "\\" "\\\\" arg "${arg}")
    string(REPLACE "\"" "\\\"" arg "${arg}")
    string(REPLACE "`" "\\`" arg "${arg}")
    string(REPLACE "$" "\\$" arg "${arg}")
    set(arg "\"${arg}\"")
  endif()
  string(REPLACE "\\" "\\\\" arg "${arg}")
  set(${out} "${arg}" PARENT_SCOPE)
endfunction()

get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
foreach(dir LIBEXECDIR DATADIR)
  if(IS_ABSOLUTE "${PIRVEL_${dir}}")
    set(${dir} "${PIRVEL_${dir}}")
  else()
    set(${dir} "${prefix}/${PIRVEL_${dir}}")
  endif()
endforeach()
pirvel_exec_arg(OPEN "${LIBEXECDIR}/pirvel/pirvel-open")
pirvel_exec_arg(DEMO "${DATADIR}/pirvel/demo")
pirvel_exec_arg(CHOOSE "${LIBEXECDIR}/pirvel/choose-folder")
set(entries)
# GLib takes the first entry in name order as a type's default where the user has chosen none:
# "pirvel-exercise" comes before "pirvel-kolmiras", so a double-click on pirvel.ini starts the
# quiz. No entry takes folders: whichever sorted first would become the program that opens every
# folder of the desktop wherever no file manager sorts before it. The menu entry asks for the
# folder instead.
foreach(entry pirvel pirvel-exercise pirvel-kolmiras pirvel-kolmiras-meny)
  configure_file(${PIRVEL_ENTRIES_SOURCE}/${entry}.desktop.in
                 ${PIRVEL_ENTRIES_BINARY}/${entry}.desktop @ONLY)
  list(APPEND entries ${PIRVEL_ENTRIES_BINARY}/${entry}.desktop)
endforeach()
file(INSTALL DESTINATION "${DATADIR}/applications" TYPE FILE FILES ${entries})

# A package leaves the caches of file types and of their programs to the system's triggers; a
# direct install into a prefix brings them up to date itself, or a desktop would not see them.
function(pirvel_update_cache tool dir)
  find_program(PIRVEL_${tool} ${tool})
  if(PIRVEL_${tool})
    execute_process(COMMAND ${PIRVEL_${tool}} "${dir}")
  else()
    message(WARNING "${tool} is missing: pirvel.ini opens with Pirvel only once the cache in "
                    "${dir} is rebuilt.")
  endif()
endfunction()
if("$ENV{DESTDIR}" STREQUAL "")
  pirvel_update_cache(update-mime-database "${DATADIR}/mime")
  pirvel_update_cache(update-desktop-database "${DATADIR}/applications")
endif()
