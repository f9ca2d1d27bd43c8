target_sources(logic PRIVATE ${PROJECT_SOURCE_DIR}/link/tracks_write.cpp ${PROJECT_SOURCE_DIR}/writing/writeloop.cpp)
