# Warnings are errors everywhere: a warning left alone is a fault found later.
add_compile_options(-Wall -Wextra -Werror)
