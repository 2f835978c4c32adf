import os
import subprocess
import sys

import pytest

# Set by the test command for the ASan + UBSan lane, where everything runs several times slower.
SANITIZED = os.environ.get("VOK_SANITIZED") == "1"


def run_python(code: str, env_extra: dict[str, str] | None = None, timeout: float = 120):
    """Runs code in a fresh interpreter with this one's environment (and sanitizer preload)."""
    env = dict(os.environ)
    env.update(env_extra or {})
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=env, timeout=timeout)


@pytest.fixture
def vc():
    import vok_math.vok_core as module
    return module
