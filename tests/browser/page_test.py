#!/usr/bin/python3
"""The learning page in a real browser: Debian's Chromium, driven headlessly
through chromedriver by Selenium. Writes the page with `kbdtool html`, asks
`kbdtool find` what to expect, then clicks, presses physical keys by position
and searches, as a person would.

    page_test.py KBDTOOL IMAGE [--screenshot PNG]

Exit status 0 when every check passes; one line per failed check otherwise.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

# The held keys of a find stroke, as the physical keys that hold them.
HELD_CODES = {"Shift": "ShiftLeft", "Ctrl": "ControlLeft", "Alt": "AltLeft", "AltGr": "AltRight"}


def kbdtool(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--no-first-run", "--disable-dev-shm-usage",
                "--user-data-dir=" + profile, "--window-size=1100,1300", "--force-device-scale-factor=1"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def key_event(driver, kind, code):
    driver.execute_cdp_cmd("Input.dispatchKeyEvent", {"type": kind, "code": code, "key": "", "modifiers": 0})


def press_stroke(driver, stroke):
    """Presses one chord of find's JSON by the physical keys' positions."""
    held = [HELD_CODES[h] for h in stroke["held"].split("+") if h]
    for code in held:
        key_event(driver, "rawKeyDown", code)
    key_event(driver, "rawKeyDown", stroke["code"])
    key_event(driver, "keyUp", stroke["code"])
    for code in reversed(held):
        key_event(driver, "keyUp", code)


def text_of(driver):
    return driver.execute_script("return document.getElementById('text').value")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kbdtool")
    ap.add_argument("image")
    ap.add_argument("--screenshot", help="write a picture of the page here")
    args = ap.parse_args()

    failures = []

    def check(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, expected {want!r}")

    with tempfile.TemporaryDirectory() as tmp:
        page = os.path.join(tmp, "layout.html")
        kbdtool(args.kbdtool, "html", args.image, "--out", page)
        size = os.path.getsize(page)
        if size >= 300 * 1024:
            failures.append(f"the page is {size} bytes, over 300 KB")
        with open(page, encoding="utf-8") as f:
            html = f.read()
        for external in ("<script src", "<link", "@import", "http://", "https://", "url("):
            if external in html:
                failures.append(f"the page refers to something outside itself: {external}")

        word = "rāmāyaṇa"
        keys = json.loads(kbdtool(args.kbdtool, "find", "--keys", "--json", args.image, word))
        found = json.loads(kbdtool(args.kbdtool, "find", "--json", args.image, "ṛ"))["characters"][0]

        driver = browser(os.path.join(tmp, "profile"))
        try:
            driver.get("file://" + page)
            errors = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
            if errors:
                failures.append(f"script errors on load: {errors}")

            # Clicking: the on-screen Shift, the key in the 4 position, then a.
            driver.find_element(By.ID, "shift").click()
            driver.find_element(By.ID, "k-05").click()
            pending = driver.find_element(By.ID, "pending").text
            if "¯" not in pending:
                failures.append(f"after Shift+4 the pending dead key is not shown: {pending!r}")
            driver.find_element(By.ID, "k-1e").click()
            check("clicking Shift, 4, a", text_of(driver), "ā")
            check("pending after ā", driver.find_element(By.ID, "pending").text, "")

            # Physical keys by position: the sequence find gives for the word.
            driver.find_element(By.ID, "clear").click()
            driver.find_element(By.ID, "text").click()
            for stroke in keys["strokes"]:
                press_stroke(driver, stroke)
            check("typing rāmāyaṇa by position", text_of(driver), word)

            # Caps Lock on screen, then AltGr+q gives Ä.
            driver.find_element(By.ID, "clear").click()
            driver.find_element(By.ID, "caps").click()
            driver.find_element(By.ID, "altgr").click()
            driver.find_element(By.ID, "k-10").click()
            driver.find_element(By.ID, "caps").click()
            check("Caps Lock, AltGr, q", text_of(driver), "Ä")

            # Searching: the keys shown are the keys find gives.
            box = driver.find_element(By.ID, "search")
            box.send_keys("ṛ")
            shown = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#found code.keys")]
            check("search for ṛ", shown, [w["keys"] for w in found["sequences"]])
            box.clear()
            box.send_keys("Ж")
            check("search for a character the layout lacks",
                  "not on this layout" in driver.find_element(By.ID, "found").text, True)

            if args.screenshot:
                box.clear()
                box.send_keys("ṛ")
                driver.find_element(By.ID, "clear").click()
                driver.find_element(By.ID, "text").click()
                for stroke in keys["strokes"]:
                    press_stroke(driver, stroke)
                driver.find_element(By.ID, "shift").click()
                driver.find_element(By.ID, "k-05").click()
                driver.execute_script("window.scrollTo(0, 0)")
                height = driver.execute_script(
                    "return document.getElementById('found').getBoundingClientRect().bottom + 20")
                driver.set_window_size(1100, int(height) + 200)
                driver.save_screenshot(args.screenshot)
        finally:
            driver.quit()

    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
