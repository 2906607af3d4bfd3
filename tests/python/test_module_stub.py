"""The shipped .pyi stub against the built module: the same public names, and for every method the parameters
its __text_signature__ states, in order, with the same defaults and keyword-only marker."""

import ast
import pathlib

import pytest

cx = pytest.importorskip("cindermantle_xlsx")

STUB = pathlib.Path(__file__).resolve().parents[2] / "python" / "cindermantle_xlsx" / "_cindermantle_xlsx.pyi"


def stub_tree():
    return ast.parse(STUB.read_text())


def stub_signature(function):
    args = function.args
    parts = [a.arg for a in args.posonlyargs + args.args]
    defaults = [None] * (len(parts) - len(args.defaults)) + [ast.unparse(d) for d in args.defaults]
    shown = [p if d is None else f"{p}={d}" for p, d in zip(parts, defaults)]
    if args.kwonlyargs:
        shown.append("*")
        for arg, default in zip(args.kwonlyargs, args.kw_defaults):
            shown.append(arg.arg if default is None else f"{arg.arg}={ast.unparse(default)}")
    return "(" + ", ".join(shown) + ")"


def test_stub_names_match_the_module():
    tree = stub_tree()
    names = {node.name for node in tree.body if isinstance(node, ast.ClassDef)}
    names |= {node.target.id for node in tree.body if isinstance(node, ast.AnnAssign)}
    names |= {node.name for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert names - {"__all__"} == set(cx._cindermantle_xlsx.__all__)


def test_stub_signatures_match_text_signatures():
    checked = 0
    for node in stub_tree().body:
        if not isinstance(node, ast.ClassDef):
            continue
        cls = getattr(cx, node.name)
        for item in node.body:
            if not isinstance(item, ast.FunctionDef) or item.name.startswith("__"):
                continue
            runtime = getattr(cls, item.name)
            if any(isinstance(d, ast.Name) and d.id == "property" for d in item.decorator_list):
                assert isinstance(runtime, type(cx.Workbook.sheet_count)), item.name
                continue
            text = runtime.__text_signature__.replace("$self", "self")
            assert stub_signature(item) == text, (node.name, item.name)
            doc = ast.get_docstring(item)
            assert (runtime.__doc__ or None) == doc, (node.name, item.name)
            checked += 1
    assert checked >= 9


def test_stub_functions_match_text_signatures():
    functions = [node for node in stub_tree().body if isinstance(node, ast.FunctionDef)]
    for node in functions:
        runtime = getattr(cx, node.name)
        assert stub_signature(node) == runtime.__text_signature__.replace("$module, ", ""), node.name
        assert (runtime.__doc__ or None) == ast.get_docstring(node), node.name
    assert len(functions) >= 3
