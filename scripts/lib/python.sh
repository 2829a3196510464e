# Sourced: sets python to a Python 3 with numpy and Pillow, which the
# checker needs: they come with the system's Python (installed by
# scripts/install-deps), which another python3 on the PATH (a virtual
# environment, pyenv) may shadow.
python=python3
$python -c 'import numpy, PIL' 2>/dev/null || python=/usr/bin/python3
