"""Legacy-encoded playlists for the "auto" encoding tests.

Each text is written in UTF-8 here and converted into its code page with
the system's iconv when the corpus is made, so what the tests read is what a
user's old ripper or editor wrote. make(directory) writes the files and
returns one Sample per file with the strings a correct decoding gives back.

Per code page: CUE sheets of a full album, name,URL station lists of a few
dozen lines, and short texts with a single non-ASCII name, on which a
statistical detector has the least to go on.
"""
import os
import random
import subprocess
from dataclasses import dataclass
from typing import List

# Song titles, artists and station names per language. Every string must be
# representable in each code page that uses the language.
WORDS = {
    "ru": {
        "titles": ["Группа крови", "Звезда по имени Солнце", "Кукушка", "Пачка сигарет",
                   "Перемен", "Катюша", "Подмосковные вечера", "Миллион алых роз",
                   "Надежда", "Синий иней", "Белые розы", "Ой, то не вечер",
                   "Увезу тебя я в тундру", "Город золотой", "Всё идёт по плану",
                   "Последняя поэма", "Прекрасное далёко", "Восьмиклассница",
                   "Спокойная ночь", "Кончится лето", "Дальше действовать будем мы",
                   "Троллейбус", "Место для шага вперёд", "Нам с тобой"],
        "artists": ["Кино", "Виктор Цой", "Алла Пугачёва", "Аквариум", "ДДТ",
                    "Наутилус Помпилиус", "Машина времени", "Земляне", "Сплин",
                    "Любэ", "Самоцветы", "Мумий Тролль"],
        "stations": ["Радио Маяк", "Наше радио", "Европа Плюс", "Русское радио",
                     "Радио России", "Эхо Москвы", "Ретро ФМ", "Авторадио",
                     "Радио Шансон", "Дорожное радио", "Радио Культура", "Серебряный дождь",
                     "Новое радио", "Радио Звезда", "Детское радио", "Радио Вера",
                     "Юмор ФМ", "Радио Дача", "Лав Радио", "Радио Рекорд",
                     "Хит ФМ", "Радио Monte Carlo Москва", "Вести ФМ", "Бизнес ФМ"],
        "albums": ["Группа крови", "Звезда по имени Солнце", "Лучшие песни", "Чёрный альбом"],
    },
    "fr": {
        "titles": ["Non, je ne regrette rien", "La Bohème", "Ça plane pour moi",
                   "L’hymne à l’amour", "Déjà vu", "Über den Wolken", "Für Elise",
                   "Bésame mucho", "Señorita", "Les Champs-Élysées", "Où est ma tête",
                   "Café au lait", "Atemlos durch die Nacht", "Ne me quitte pas",
                   "Père et fils", "Don’t Stop Me Now", "La fête est finie",
                   "Mañana", "Göttingen", "Tränen lügen nicht", "À bout de souffle",
                   "Élégie", "Crème brûlée", "Noël blanc"],
        "artists": ["Édith Piaf", "Charles Aznavour", "Jacques Brel", "Plastic Bertrand",
                    "Reinhard Mey", "Björk", "Françoise Hardy", "Joe Dassin",
                    "Helene Fischer", "Mireille Mathieu", "Gérard Lenorman", "Zaz"],
        "stations": ["France Inter", "Europe 1 – Actualités", "RTL Deutschland", "Radio Nacional de España",
                     "Chérie FM", "Bayern 3 – Die Hits", "Nostalgie Belgique", "Rádio Comercial",
                     "NRJ Léman", "Fip Électro", "Radio Neckarburg", "Cadena Dial",
                     "Skyrock", "Rire & Chansons", "Hitradio Ö3", "Radio Nova",
                     "Radio Télé Luxembourg", "Deutschlandfunk Kultur", "Los 40 Clásicos",
                     "France Musique", "Virgin Radio", "SWR3", "Radio Classique", "Radio Zürisee"],
        "albums": ["Les plus belles chansons", "Éternelle", "Chansons d’été", "Über alles"],
    },
    "cs": {
        "titles": ["Przeżyj to sam", "Jolka, Jolka pamiętasz", "Dziwny jest ten świat",
                   "Holubí dům", "Škoda lásky", "Má vlast", "Szerelem, szerelem",
                   "Kiedy byłem małym chłopcem", "Bíla orchidej", "Lásko má, já stůňu",
                   "Żółta jesień", "Ściernisko", "Őszi chanson", "Trenčín",
                   "Znamení", "Mám rozprávkový dom", "Tańcz głupia, tańcz",
                   "Jedwab", "Niebo do wynajęcia", "Dobrú noc, má milá", "Łzy",
                   "Vltava", "Kocham cię kochanie moje", "Modlitba pro Martu"],
        "artists": ["Czesław Niemen", "Lady Pank", "Karel Gott", "Žlutý pes",
                    "Marta Kubišová", "Budka Suflera", "Lucie Bílá", "Jiří Schelinger",
                    "Maryla Rodowicz", "Edyta Górniak", "Kossuth Lajos", "Hana Zagorová"],
        "stations": ["Polskie Radio Trójka", "Český rozhlas Dvojka", "Petőfi Rádió",
                     "Radio Złote Przeboje", "Rádio Blaník", "Radio Zet", "Rádio Impuls",
                     "Radio Łódź", "Český rozhlas Vltava", "Radio Eska Kraków",
                     "Rádio Expres", "Radio Kraków", "Kossuth Rádió", "Radio Wrocław",
                     "Rádio Čas", "Radio Szczecin", "Bartók Rádió", "Rádio Jih",
                     "Radio Gdańsk", "Rádio Beat", "Antyradio", "Radio Olsztyn",
                     "Rádio Slovensko", "Rádio Krokodýl"],
        "albums": ["Złota kolekcja", "Největší hity", "Śpiewnik", "Písně z večerů"],
    },
    "ja": {
        "titles": ["夜に駆ける", "紅蓮華", "千本桜", "残酷な天使のテーゼ", "恋",
                   "花束を君に", "春よ、来い", "上を向いて歩こう", "涙そうそう", "世界に一つだけの花",
                   "桜坂", "少年時代", "川の流れのように", "君が代", "天体観測",
                   "糸", "海の声", "星屑", "乾杯", "瞳をとじて", "真夏の果実",
                   "雪の華", "secret base 君がくれたもの", "ひまわりの約束"],
        "artists": ["米津玄師", "宇多田ヒカル", "松任谷由実", "坂本九", "夏川りみ",
                    "井上陽水", "美空ひばり", "中島みゆき", "福山雅治", "平井堅",
                    "中島美嘉", "秦基博"],
        "stations": ["ＮＨＫラジオ第一", "ＮＨＫ　ＦＭ", "文化放送", "ニッポン放送",
                     "ＴＢＳラジオ", "東京ＦＭ", "Ｊ-ＷＡＶＥ", "ＦＭ大阪", "毎日放送",
                     "朝日放送ラジオ", "ラジオ日本", "北海道放送", "中部日本放送", "九州朝日放送",
                     "琉球放送", "京都放送", "ＦＭ横浜", "ラジオ関西", "山陽放送",
                     "東北放送", "信越放送", "四国放送", "ＦＭ福岡", "ラジオ大阪"],
        "albums": ["ベスト盤", "名曲集", "夏の歌", "冬の物語"],
    },
    "zh-hant": {
        "titles": ["月亮代表我的心", "甜蜜蜜", "小幸運", "告白氣球", "晴天", "稻香",
                   "童話", "後來", "吻別", "朋友", "東風破", "夜曲", "聽海",
                   "我只在乎你", "千千闕歌", "海闊天空", "光輝歲月", "紅豆",
                   "小城故事", "恰似你的溫柔", "愛情轉移", "說好的幸福呢", "七里香", "青花瓷"],
        "artists": ["鄧麗君", "周杰倫", "蔡依林", "五月天", "張學友", "王菲",
                    "陳奕迅", "光良", "劉若英", "田馥甄", "張惠妹", "林俊傑"],
        "stations": ["中廣流行網", "飛碟電台", "台北之音", "警察廣播電台", "漢聲廣播電台",
                     "教育廣播電台", "香港電台第一台", "香港電台第二台", "商業電台", "新城電台",
                     "好事聯播網", "亞洲電台", "大千廣播電台", "中廣音樂網", "寶島新聲",
                     "全國廣播", "正聲廣播", "快樂聯播網", "港都電台", "高屏廣播",
                     "台中廣播", "環宇廣播", "佳音電台", "澳門電台"],
        "albums": ["經典金曲", "最愛精選", "情歌集", "原聲帶"],
    },
    "zh-hans": {
        "titles": ["月亮代表我的心", "甜蜜蜜", "青花瓷", "后来", "童话", "成都",
                   "平凡之路", "南山南", "董小姐", "演员", "稻香", "晴天", "夜曲",
                   "小幸运", "光年之外", "体面", "凉凉", "追光者", "说散就散",
                   "十年", "老男孩", "父亲", "蓝莲花", "送别"],
        "artists": ["周杰伦", "刘若英", "光良", "赵雷", "朴树", "邓紫棋",
                    "薛之谦", "许巍", "陈奕迅", "王菲", "筷子兄弟", "毛不易"],
        "stations": ["中国之声", "经济之声", "音乐之声", "北京音乐广播", "北京交通广播",
                     "上海东方广播", "广东音乐之声", "天津相声广播", "中国乡村之声", "文艺之声",
                     "老年之声", "华语环球广播", "南京音乐广播", "浙江交通之声", "湖南金鹰之声",
                     "四川交通广播", "重庆音乐广播", "深圳飞扬971", "厦门经济交通广播",
                     "河北音乐广播", "山东经济广播", "江苏新闻广播", "湖北之声", "陕西音乐广播"],
        "albums": ["经典老歌", "流行金曲", "民谣集", "精选辑"],
    },
    "ko": {
        "titles": ["봄날", "강남스타일", "사랑했지만", "너의 의미", "밤양갱", "좋은 날",
                   "서른 즈음에", "벚꽃 엔딩", "거위의 꿈", "아리랑", "소주 한 잔", "가시나",
                   "작은 것들을 위한 시", "시간을 달려서", "첫눈처럼 너에게 가겠다", "걱정말아요 그대",
                   "이등병의 편지", "보고 싶다", "밤편지", "우리의 꿈", "취중진담", "흰수염고래",
                   "너를 만나", "모든 날, 모든 순간"],
        "artists": ["아이유", "방탄소년단", "김광석", "싸이", "버스커 버스커", "선미",
                    "이적", "여자친구", "임재범", "폴킴", "김동률", "윤도현"],
        "stations": ["KBS 클래식 FM", "MBC 표준FM", "SBS 파워FM", "KBS 해피FM", "CBS 음악FM",
                     "TBS 교통방송", "EBS 라디오", "국악방송", "아리랑 라디오", "MBC FM4U",
                     "SBS 러브FM", "KBS 쿨FM", "경인방송", "부산MBC", "대구MBC",
                     "광주방송", "대전MBC", "울산MBC", "전주MBC", "제주MBC",
                     "원음방송", "극동방송", "평화방송", "불교방송"],
        "albums": ["베스트 앨범", "가요 모음", "추억의 노래", "사계절"],
    },
}

# Code page (iconv name) -> language of its texts.
ENCODINGS = {
    "CP1251": "ru",
    "KOI8-R": "ru",
    "CP1252": "fr",
    "ISO-8859-2": "cs",
    "SHIFT_JIS": "ja",
    "EUC-JP": "ja",
    "BIG5": "zh-hant",
    "GBK": "zh-hans",
    "EUC-KR": "ko",
}


@dataclass
class Sample:
    path: str
    encoding: str     # the code page the file is written in
    kind: str         # "cue", "list", "short-cue" or "short-list"
    strings: List[str]  # what a correct decoding gives back, in order


def cue_sheet(rng, words, tracks):
    """A CUE sheet of an album and the strings it carries: sheet title,
    performer and file name, then each track's title."""
    performer = rng.choice(words["artists"])
    album = rng.choice(words["albums"])
    titles = rng.sample(words["titles"], tracks)
    lines = ['REM GENRE Pop', f'REM DATE {rng.randint(1962, 2023)}',
             f'PERFORMER "{performer}"', f'TITLE "{album}"',
             f'FILE "{performer} - {album}.flac" WAVE']
    strings = [album, performer, f"{performer} - {album}.flac"]
    start = 0
    for n, title in enumerate(titles, 1):
        artist = performer if rng.random() < 0.7 else rng.choice(words["artists"])
        m, s = divmod(start, 60)
        lines += [f"  TRACK {n:02d} AUDIO", f'    TITLE "{title}"',
                  f'    PERFORMER "{artist}"', f"    INDEX 01 {m:02d}:{s:02d}:00"]
        strings.append(title)
        start += rng.randint(150, 320)
    return "\r\n".join(lines) + "\r\n", strings


def non_ascii(strings):
    return [s for s in strings if not s.isascii()]


def short_cue(rng, words):
    """A sheet whose only non-ASCII text is one track title."""
    title = rng.choice(non_ascii(words["titles"]))
    text = ('PERFORMER "Various"\r\nTITLE "Mix 2004"\r\nFILE "mix.wav" WAVE\r\n'
            '  TRACK 01 AUDIO\r\n    TITLE "Intro"\r\n    INDEX 01 00:00:00\r\n'
            f'  TRACK 02 AUDIO\r\n    TITLE "{title}"\r\n    INDEX 01 03:12:00\r\n'
            '  TRACK 03 AUDIO\r\n    TITLE "Outro"\r\n    INDEX 01 07:40:00\r\n')
    return text, ["Mix 2004", "Various", "mix.wav", "Intro", title, "Outro"]


def station_list(rng, words, count):
    """name,URL lines and the names they carry."""
    names = rng.sample(words["stations"], count)
    lines = []
    for n, name in enumerate(names):
        host = f"198.51.100.{10 + n}"
        scheme = rng.choice(["http", "https", "http", "rtsp"])
        lines.append(f"{name},{scheme}://{host}:{rng.choice([80, 8000, 8080])}/live{n}")
    return "\n".join(lines) + "\n", names


def short_list(rng, words):
    """A list with one non-ASCII name among plain ones."""
    name = rng.choice(non_ascii(words["stations"]))
    lines = ["Jazz 24,http://198.51.100.1:8000/jazz", f"{name},http://198.51.100.2/live",
             "Classic Rock,http://198.51.100.3:8080/rock", "News,http://198.51.100.4/news"]
    return "\n".join(lines) + "\n", ["Jazz 24", name, "Classic Rock", "News"]


def encode(text, encoding):
    """The text converted from UTF-8 by the iconv program, strictly."""
    p = subprocess.run(["iconv", "-f", "UTF-8", "-t", encoding], input=text.encode("utf-8"),
                       capture_output=True, check=True)
    return p.stdout


def make(directory, rounds=3, seed=15):
    """Writes the corpus into `directory` and returns its Samples: per code
    page and round two CUE sheets, two station lists and two short texts."""
    rng = random.Random(seed)
    samples = []
    for r in range(rounds):
        for encoding, language in ENCODINGS.items():
            words = WORDS[language]
            texts = [("cue", cue_sheet(rng, words, rng.randint(10, 16))),
                     ("cue", cue_sheet(rng, words, rng.randint(6, 10))),
                     ("list", station_list(rng, words, rng.randint(18, 24))),
                     ("list", station_list(rng, words, rng.randint(10, 16))),
                     ("short-cue", short_cue(rng, words)),
                     ("short-list", short_list(rng, words))]
            for n, (kind, (text, strings)) in enumerate(texts):
                ext = "cue" if kind.endswith("cue") else "txt"
                path = os.path.join(directory, f"{encoding.lower()}-{r}{n}-{kind}.{ext}")
                with open(path, "wb") as f:
                    f.write(encode(text, encoding))
                samples.append(Sample(path, encoding, kind, strings))
    return samples


def strings_of(document):
    """The strings of a result document (JSON, as the tool prints it) in the
    order Sample.strings lists them."""
    cue = document.get("cue")
    if cue is not None:
        tracks = cue.get("tracks", [])
        out = [cue.get("title"), cue.get("performer"), tracks[0].get("file") if tracks else None]
        return out + [track.get("title") for track in tracks]
    return [item.get("title") for item in document.get("items", [])]
