"""`brightloom detect`: the real detector's faces on the shared photos, as
JSON lines and as a table, and the failures it reports."""
import json

import pytest
from PIL import Image

# The detector's results on the shared photos (shared/assets/README.md):
# image, box x1, y1, x2, y2 and score of its one face; five points where given.
ONE_FACE = [
    ("single_astronaut_pd.png", (180.8, 55.3, 270.7, 178.6), 0.8209,
     [(204.5, 100.8), (247.3, 103.3), (223.6, 129.0), (200.8, 138.3), (246.6, 140.7)]),
    ("single_messi_tinyface.jpg", (225.4, 91.3, 258.7, 132.7), 0.7682, None),
    ("single_obama_240p_smallface.jpg", (194.6, 24.4, 250.4, 92.3), 0.5868, None),
    ("single_obama_official_pd.jpg", (379.1, 80, 606, 429.3), 0.7583, None),
    ("occluded_mask_hand.jpg", (215.7, 52.5, 333.7, 178.4), 0.7187, None),
]
COUNTS = {"dlib_voc_2008_001322.jpg": 3, "dlib_voc_2008_002470.jpg": 7, "noface_coffee_cc0.png": 0,
          "group_solvay_1927_gray_pd.png": 29}


def detect_json(run, photo_detector, names, *options):
    photos, models = photo_detector
    result = run("-q", "-m", models, "detect", "--json", *options, *[f"{photos}/{n}" for n in names])
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert len(lines) == len(names)
    return [json.loads(line) for line in lines]


def close(got, expected, tolerance):
    return all(abs(g - e) <= tolerance for g, e in zip(got, expected))


def test_faces_agree_with_the_detectors_published_results(run, photo_detector):
    analyses = detect_json(run, photo_detector, [row[0] for row in ONE_FACE])
    for (name, box, score, points), analysis in zip(ONE_FACE, analyses):
        assert analysis["image"].endswith(name) and analysis["detector"] == "scrfd_2.5g.onnx"
        (face,) = analysis["faces"]
        # About 2 px at the detector's 640 x 640 input, in the photo's pixels.
        tolerance = 2 * max(analysis["width"], analysis["height"]) / 640 + 0.1
        assert close(face["box"], box, tolerance), (name, face["box"])
        assert abs(face["score"] - score) <= 0.01, name
        assert len(face["points5"]) == 5 and "points68" not in face and "embedding" not in face
        if points:
            for got, expected in zip(face["points5"], points):
                assert close(got, expected, tolerance), (name, face["points5"])


def test_face_counts_and_best_score_first(run, photo_detector):
    analyses = detect_json(run, photo_detector, list(COUNTS))
    for (name, count), analysis in zip(COUNTS.items(), analyses):
        scores = [face["score"] for face in analysis["faces"]]
        assert len(scores) == count, name
        assert scores == sorted(scores, reverse=True), name


def test_the_table_names_each_image_and_its_faces(run, photo_detector):
    photos, models = photo_detector
    result = run("-q", "-m", models, "detect", f"{photos}/single_astronaut_pd.png", f"{photos}/noface_coffee_cc0.png")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"{photos}/single_astronaut_pd.png: 512 x 512, 1 face",
        "  face  score   x1      y1      x2      y2",
        "  0     0.821   180.8   55.3    270.7   178.6",
        f"{photos}/noface_coffee_cc0.png: 600 x 400, 0 faces",
    ]


@pytest.mark.parametrize("options, first, message, printed", [
    ([], "nothing-here.png", "nothing-here.png", 1),
    (["--embedding"], "single_astronaut_pd.png", "embeddings need the recognizer", 0),
])
def test_failures_are_reported_and_the_others_still_printed(run, photo_detector, options, first, message,
                                                            printed):
    photos, models = photo_detector
    result = run("-q", "-m", models, "detect", "--json", *options, f"{photos}/{first}",
                 f"{photos}/single_messi_tinyface.jpg")
    assert result.returncode == 1
    assert message in result.stderr
    assert len(result.stdout.splitlines()) == printed


def test_embeddings_and_68_points_with_the_full_model_set(run, demo_models, tmp_path):
    # The stand-in detector finds a bright square a tenth of the picture wide.
    picture = tmp_path / "face.png"
    image = Image.new("RGB", (320, 320), (20, 22, 34))
    image.paste((255, 159, 127), (144, 144, 176, 176))
    image.save(picture)
    result = run("-q", "-m", demo_models, "detect", "--json", "--embedding", picture)
    assert result.returncode == 0, result.stderr
    (face, *_) = json.loads(result.stdout)["faces"]
    assert len(face["points68"]) == 68
    assert len(face["embedding"]) == 512
    assert abs(sum(v * v for v in face["embedding"]) - 1) < 1e-3
