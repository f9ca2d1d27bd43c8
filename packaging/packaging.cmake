# What the Debian package carries besides the programs: the version the
# programs report, their manual pages (made by help2man from their own --help
# and --version, so the two never disagree), the copyright file and the
# changelog, both as Debian's policy places them.

target_compile_definitions(stripewell-sim PRIVATE STRIPEWELL_VERSION="${PROJECT_VERSION}")

set(STRIPEWELL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/stripewell)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# Files under /usr/share/doc and /usr/share/man are compressed with gzip -9n
# (no name, no time stamp), so the package is the same from build to build.
add_custom_command(OUTPUT ${packaging_out}/changelog.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/debian/changelog > ${packaging_out}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog VERBATIM)
set(packaging_files ${packaging_out}/changelog.gz)

find_program(HELP2MAN help2man)
if(HELP2MAN)
    foreach(program stripewell stripewell-sim)
        if(program STREQUAL "stripewell")
            set(summary "read and encode magnetic-stripe cards with an R418V terminal")
        else()
            set(summary "play the R418V card terminal on a pseudo-terminal")
        endif()
        add_custom_command(OUTPUT ${packaging_out}/${program}.1.gz
            COMMAND ${HELP2MAN} --no-info --section=1 --name=${summary} --source=Stripewell
                    --output=${packaging_out}/${program}.1 $<TARGET_FILE:${program}>
            COMMAND gzip -9nf ${packaging_out}/${program}.1
            DEPENDS ${program} VERBATIM)
        list(APPEND packaging_files ${packaging_out}/${program}.1.gz)
        install(FILES ${packaging_out}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
else()
    message(WARNING "help2man was not found: the package gets no manual pages (scripts/setup.sh installs it)")
endif()
add_custom_target(packaging_files ALL DEPENDS ${packaging_files})

install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright DESTINATION ${STRIPEWELL_DOC_DIR})
install(FILES ${packaging_out}/changelog.gz DESTINATION ${STRIPEWELL_DOC_DIR})

set(CPACK_PACKAGE_DESCRIPTION
"Stripewell is a desktop program for an operator who reads and encodes
magnetic-stripe cards with an R418V card terminal on a serial port (a USB
serial adapter or a UART).
.
It reads tracks 1 to 3 of swiped cards, and encodes runs of cards whose track
texts come from per-track templates: fixed text, rising or falling counters
and spreadsheet columns (xlsx, ods, xls or csv) read one row further per card.
Every card is logged as written or not, a card that failed is sent again, and
the job is saved as it advances, so a run goes on where it stood after a crash
or a power cut. A journal in CSV records every card.
.
The package also holds stripewell-sim, a simulator of the terminal on a
pseudo-terminal, for trying the program without the device.")
