"""What the package reads from the type information, held to the hand-written member table
of the component (tests/data/tovel_members.tsv): names, dispatch identifiers, parameter
names in order, optional parameters and their defaults, types and results."""

import enum
import inspect

import orvan
from conftest import SOURCE_DIR

PYTHON_TYPES = {"I4": int, "R4": float, "R8": float, "BSTR": str, "BOOL": bool,
                "IDispatch": orvan.DispatchObject, "SAFEARRAY(UI1)": bytes,
                "IUnknown": inspect.Parameter.empty}


def member_table():
    rows = {}
    for line in (SOURCE_DIR / "tests" / "data" / "tovel_members.tsv").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        entry, dispid, name, params, result = line.split("\t")
        parsed = [] if params == "-" else [p.split(":") for p in params.split(" ")]
        rows[name] = (int(dispid, 16), parsed, result)
    return rows


def test_methods_parameters_and_results_match_the_member_table(music):
    table = member_table()
    assert len(table) == 80  # _OrvanMusic's 50 and the 30 _OrvanMusic2 adds
    methods = {name for name in dir(music) if callable(getattr(music, name, None))
               and not name.startswith("_") and not isinstance(getattr(music, name), type)}
    assert methods == set(table)

    for name, (dispid, params, result) in table.items():
        method = getattr(music, name)
        assert method.dispid == dispid, name
        signature = inspect.signature(method)
        assert list(signature.parameters) == [p[0] for p in params], name
        for (pname, ptype, kind), parameter in zip(params, signature.parameters.values()):
            expected = PYTHON_TYPES.get(ptype) or getattr(music, ptype)
            assert parameter.annotation is expected, (name, pname)
            if kind.startswith("ref-opt="):
                assert parameter.default == int(kind.split("=")[1]), (name, pname)
            elif kind == "ref-opt":
                assert parameter.default is None, (name, pname)
            else:
                assert parameter.default is inspect.Parameter.empty, (name, pname)
        assert signature.return_annotation is PYTHON_TYPES.get(result), name


def test_enumerations_are_int_enums_with_the_type_library_values(music):
    phase, wave = music.CONST_OSFX_PHASE, music.CONST_OSFX_WAVE
    assert issubclass(phase, enum.IntEnum) and issubclass(wave, enum.IntEnum)
    assert {m.name: int(m) for m in wave} == {"OSFX_WAVE_TRIANGLE": 0, "OSFX_WAVE_SIN": 1}
    assert [phase[n] for n in ("OSFX_PHASE_NEG_180", "OSFX_PHASE_NEG_90", "OSFX_PHASE_ZERO",
                               "OSFX_PHASE_90", "OSFX_PHASE_180")] == [0, 1, 2, 3, 4]
    assert {"CONST_OSFX_PHASE", "CONST_OSFX_WAVE"} <= set(dir(music))
    # Automation names are case-insensitive, for members and parameters alike.
    assert music.getlengh.dispid == music.GetLengh.dispid
    assert music.const_osfx_wave is wave
