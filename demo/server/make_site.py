#!/usr/bin/env python3
"""Builds the demo download server's files: the packages of OrvaloTrader (dependencies, one extra
component, the main program with the demo client, the CUDA component), the agreement as text and
HTML, a hints document, manifest.ini with their SHA-256 digests, and the update description
update/latest.json that the installed client reads when it checks for updates.

    make_site.py OUT_DIR BASE_URL CLIENT_EXE AGREEMENT_TXT [--version V] [--update-version V2]
                 [--hints-base URL] [--text-only-agreement]

OUT_DIR becomes the server's folder for BASE_URL: the manifest lands in OUT_DIR/download. With
--update-version the server also publishes an update to V2: a newer main package and extra
component (download/main_V2.zip, download/quotes_V2.zip) and a description that offers them;
without it the description offers version V itself, so an installed client finds nothing newer.
Everything is generated with fixed file times, so two runs give the same bytes.

The server's agreement is AGREEMENT_TXT under a first line that names its edition, so that it
can be told from the built-in text at a glance. The wizard looks for an HTML edition only beside
an https agreement address ending in ".txt"; --text-only-agreement names a copy without extension
instead (legal/agreement), for systems whose WebBrowser control cannot render (Wine without its
HTML engine), where the text then shows in the plain edit.

The wizard takes the hints only from an https address on the vendor's own domain, without a
port: --hints-base names that place (for example https://localhost/demo for a build whose vendor
domain is "localhost"); it serves the same folder as BASE_URL. Without it the hints are listed
under BASE_URL, which a production build refuses unless BASE_URL is such an address."""
import argparse
import hashlib
import html
import json
import os
import zipfile

FIXED_TIME = (2026, 12, 1, 9, 30, 0)


def write_zip(path, files):
    """files: list of (name inside the archive, bytes)."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files:
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)


def write_index(path):
    """path + ".index": the package index orvalo-tool index writes, one line per file entry; an
    upgrade fetches only the entries an installation lacks. Returns its digest."""
    lines = ["orvalo-package-index 1\n"]
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.is_dir():
                continue
            digest = hashlib.sha256(z.read(info)).hexdigest()
            lines.append(f"{digest} {info.CRC:08x} {info.compress_type} {info.header_offset} "
                         f"{info.compress_size} {info.file_size} {info.filename}\n")
    text = "".join(lines).encode("utf-8")
    with open(path + ".index", "wb") as f:
        f.write(text)
    return hashlib.sha256(text).hexdigest()


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def fake_sqlite(rows):
    """A file that looks like an SQLite database to anybody who checks its header."""
    header = b"SQLite format 3\x00" + b"\x10\x00\x01\x01\x00\x40\x20\x20"
    body = "\n".join(f"trade,{i},600519,{1700 + i}.00" for i in range(rows)).encode()
    return header + bytes(100 - len(header)) + body


def main_files(client, base, version, rows):
    """The main package: the client, its readme, the address of its update description, and a
    sample database that an installation's own database always wins over."""
    return [
        ("OrvaloTrader/Orvalo.exe", client),
        ("OrvaloTrader/data/orvalo.db", fake_sqlite(rows)),
        ("OrvaloTrader/readme.txt", f"Orvalo量化 演示版 {version}\n".encode()),
        ("OrvaloTrader/update.ini", f"[update]\r\nurl={base}/update/latest.json\r\n".encode()),
    ]


def quotes_files(version):
    return [("quotes/data/quotes/README.txt", f"行情样例数据（演示）{version}\n".encode())]


def write_update(out, base, client, version, update_version, digests):
    """update/latest.json: what the installed client compares with its version and turns into an
    upgrade plan, with the packages of the newer version when there is one."""
    download = os.path.join(out, "download")
    if update_version:
        packages = {f"main_{update_version}.zip": main_files(client, base, update_version, 80),
                    f"quotes_{update_version}.zip": quotes_files(update_version)}
        for name, files in packages.items():
            write_zip(os.path.join(download, name), files)
            digests[name] = sha256(os.path.join(download, name))
            digests[name + ".index"] = write_index(os.path.join(download, name))
        offered, main, quotes = update_version, f"main_{update_version}.zip", f"quotes_{update_version}.zip"
        notes = f"Orvalo量化 {update_version}：新版主程序与行情组件"
    else:
        offered, main, quotes = version, "main.zip", "quotes.zip"
        notes = f"Orvalo量化 {version}"
    def item(name, kind):
        entry = {"url": f"{base}/download/{name}", "sha256": digests[name], "version": offered, "kind": kind}
        if name + ".index" in digests:
            entry.update({"index": f"{base}/download/{name}.index", "index_sha256": digests[name + ".index"]})
        return entry

    latest = {"version": offered, "notes": notes, "items": [item(main, "main"), item(quotes, "quotes")]}
    os.makedirs(os.path.join(out, "update"), exist_ok=True)
    with open(os.path.join(out, "update", "latest.json"), "w", encoding="utf-8") as f:
        json.dump(latest, f, ensure_ascii=False, indent=1)


def write_release_description(out, version, agreement_file, hints_base):
    """release.ini: the same release as the vendor's release tool takes it, each section naming
    its file below OUT_DIR; `orvalo-tool make-manifest OUT_DIR BASE_URL --key ...` turns it into
    the signed manifest.ini that replaces the unsigned one written here."""
    hints = f"file=hints.json\nbase={hints_base}\n" if hints_base else "file=hints.json\n"
    text = f"""; OrvaloTrader demo release {version}
[deps]
file=download/deps.zip
version={version}

[quotes]
file=download/quotes.zip
version={version}

[main]
file=download/main.zip
version={version}
exe=Orvalo.exe

[llm_deps]
file=download/llm_deps.zip
version={version}

[agreement]
file=legal/{agreement_file}
version=demo-{version}

[hints]
{hints}"""
    with open(os.path.join(out, "release.ini"), "w", encoding="utf-8") as f:
        f.write(text)


def build(out, base, client_exe, agreement_txt, version, update_version=None, hints_base=None,
          text_only_agreement=False):
    hints_base = hints_base or base
    download = os.path.join(out, "download")
    os.makedirs(download, exist_ok=True)
    with open(client_exe, "rb") as f:
        client = f.read()
    with open(agreement_txt, "rb") as f:
        agreement = f.read()
    if agreement.startswith(b"\xef\xbb\xbf"):
        agreement = agreement[3:]
    edition = f"【下载服务器版本 demo-{version}】"
    original = agreement
    agreement = f"{edition}\r\n".encode() + agreement

    packages = {
        "deps.zip": [
            ("deps/runtime/orvalo_runtime.txt", b"Orvalo runtime files for the demo.\n"),
            ("deps/config/default.json", json.dumps({"theme": "light", "market": "A"}).encode()),
        ],
        "quotes.zip": quotes_files(version),
        "main.zip": main_files(client, base, version, 50),
        "llm_deps.zip": [
            ("cuda/README.txt", b"CUDA runtime placeholder for the demo.\n"),
        ],
    }
    digests = {}
    for name, files in packages.items():
        path = os.path.join(download, name)
        write_zip(path, files)
        digests[name] = sha256(path)

    legal = os.path.join(out, "legal")
    os.makedirs(legal, exist_ok=True)
    with open(os.path.join(legal, "agreement.txt"), "wb") as f:
        f.write(agreement)
    text = original.decode("utf-8").replace("\r\n", "\n")
    title, _, rest = text.partition("\n")
    rest = edition + "\n" + rest
    paragraphs = "".join(f"<p>{html.escape(line)}</p>\n" for line in rest.splitlines() if line.strip())
    page = (f"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>{html.escape(title)}</title>"
            f"</head><body><h1>{html.escape(title)}</h1>\n{paragraphs}</body></html>\n")
    with open(os.path.join(legal, "agreement.html"), "w", encoding="utf-8") as f:
        f.write(page)
    agreement_digest = sha256(os.path.join(legal, "agreement.txt"))
    agreement_file = "agreement.txt"
    if text_only_agreement:
        agreement_file = "agreement"
        with open(os.path.join(legal, agreement_file), "wb") as f:
            f.write(agreement)

    hints = {
        "datasource": {
            "intro": "行情数据源：演示服务器推荐以下终端，请下载并注册账号",
            "items": [
                {"name": "通达信官网：www.tdx.com.cn", "url": "https://www.tdx.com.cn/"},
                {"name": "掘金量化官网：www.myquant.cn", "url": "https://www.myquant.cn/"},
            ],
        },
        "local_llm": {
            "hint": "本地大模型文件需自行下载并放入安装目录 models\\llm 文件夹（GGUF 格式）",
            "note": "国内网络推荐魔搭社区（演示服务器提供的说明）",
            "items": [
                {"name": "魔搭社区 GGUF 模型库", "url": "https://modelscope.cn/models?name=GGUF"},
            ],
            "models": [
                {"tier": "small", "name": "Qwen3-1.7B", "size": "GGUF Q4，约 1.1 GB",
                 "url": "https://modelscope.cn/models?name=Qwen3-1.7B-GGUF"},
                {"tier": "mid", "name": "Qwen3-8B", "size": "GGUF Q4_K_M，约 5 GB",
                 "url": "https://modelscope.cn/models?name=Qwen3-8B-GGUF"},
                {"tier": "large", "name": "Qwen3-32B", "size": "GGUF Q4，约 20 GB",
                 "url": "https://modelscope.cn/models?name=Qwen3-32B-GGUF"},
            ],
        },
    }
    hints_path = os.path.join(out, "hints.json")
    with open(hints_path, "w", encoding="utf-8") as f:
        json.dump(hints, f, ensure_ascii=False, indent=1)

    manifest = f"""; OrvaloTrader demo server, version {version}
[deps]
url={base}/download/deps.zip
version={version}
sha256={digests['deps.zip'].upper()}

[quotes]
url={base}/download/quotes.zip
version={version}
sha256={digests['quotes.zip']}

[main]
url={base}/download/main.zip
version={version}
exe=Orvalo.exe
sha256={digests['main.zip']}

[llm_deps]
url={base}/download/llm_deps.zip
version={version}
sha256={digests['llm_deps.zip']}

[agreement]
url={base}/legal/{agreement_file}
version=demo-{version}
sha256={agreement_digest}
html_sha256={sha256(os.path.join(legal, "agreement.html"))}

[hints]
url={hints_base}/hints.json
sha256={sha256(hints_path)}
"""
    with open(os.path.join(download, "manifest.ini"), "w", encoding="ascii", newline="\r\n") as f:
        f.write(manifest)
    write_release_description(out, version, agreement_file, hints_base if hints_base != base else None)
    write_update(out, base, client, version, update_version, digests)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("base")
    p.add_argument("client_exe")
    p.add_argument("agreement_txt")
    p.add_argument("--version", default="1.0.0")
    p.add_argument("--update-version", default=None)
    p.add_argument("--hints-base", default=None)
    p.add_argument("--text-only-agreement", action="store_true")
    a = p.parse_args()
    base = a.base.rstrip("/")
    hints_base = (a.hints_base or base).rstrip("/")
    build(a.out, base, a.client_exe, a.agreement_txt, a.version, a.update_version, hints_base,
          a.text_only_agreement)


if __name__ == "__main__":
    main()
